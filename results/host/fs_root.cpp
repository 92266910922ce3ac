#include "fs_root.hpp"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <system_error>

namespace kestrix::results {

namespace fs = std::filesystem;

root_choice fs_root() {
    root_choice c;
    const char* env = std::getenv("KESTRIX_FSROOT");
    if (env == nullptr || *env == '\0') {
        return c;
    }
    std::error_code ec;
    if (!fs::is_directory(env, ec)) {
        c.problem = std::string("KESTRIX_FSROOT names ") + env + ", which is not a folder";
        return c;
    }
    c.path = fs::absolute(env, ec).lexically_normal();
    if (c.path.has_filename() == false && c.path != c.path.root_path()) {
        c.path = c.path.parent_path(); // "/tree/" as "/tree"
    }
    return c;
}

file_text read_below(const fs::path& root, std::string_view absolute) {
    while (!absolute.empty() && absolute.front() == '/') {
        absolute.remove_prefix(1);
    }
    return read_file_text(root / fs::path(std::string(absolute)));
}

file_text read_file_text(const fs::path& p) {
    file_text t;
    errno = 0;
    std::FILE* f = std::fopen(p.string().c_str(), "rb");
    if (f == nullptr) {
        const int e = errno;
        t.error = std::strerror(e);
        t.missing = e == ENOENT || e == ENOTDIR;
        return t;
    }
    std::string text;
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) {
        text.append(buf, n);
    }
    if (std::ferror(f) != 0) {
        t.error = errno != 0 ? std::strerror(errno) : "read error";
    } else {
        t.text = std::move(text);
    }
    std::fclose(f);
    return t;
}

std::string unreadable(std::string_view absolute, const file_text& t) {
    return "could not read " + std::string(absolute) + ": " + t.error;
}

std::string trim(std::string_view s) {
    const auto first = s.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) {
        return {};
    }
    return std::string(s.substr(first, s.find_last_not_of(" \t\r\n") - first + 1));
}

} // namespace kestrix::results
