#include "support/run_binary.hpp"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#ifdef _WIN32
#include <process.h>
#else
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace kestrix::test {
namespace {

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void write_file(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

#ifdef _WIN32
// cmd.exe quoting: double quotes, inner quotes doubled up with backslashes.
std::string quote(const std::string& a) {
    std::string q = "\"";
    for (char c : a) {
        if (c == '"') {
            q += "\\\"";
        } else {
            q += c;
        }
    }
    return q + "\"";
}
std::string native_path(std::string p) {
    if (!p.empty() && p[0] == '/') {
        p = "Z:" + p; // Wine maps the host root to Z:
    }
    for (char& c : p) {
        if (c == '/') {
            c = '\\';
        }
    }
    return p;
}
#else
std::string quote(const std::string& a) {
    std::string q = "'";
    for (char c : a) {
        if (c == '\'') {
            q += "'\\''";
        } else {
            q += c;
        }
    }
    return q + "'";
}
std::string native_path(std::string p) {
    return p;
}
#endif

std::string temp_base() {
    static int counter = 0;
    const char* dir = std::getenv("TMPDIR");
#ifdef _WIN32
    if (!dir) {
        dir = std::getenv("TEMP");
    }
    std::string base = dir ? dir : ".";
    // Test programs run in parallel: the process id keeps their files apart.
    return base + "\\kx_e2e_" + std::to_string(::_getpid()) + "_" + std::to_string(counter++);
#else
    std::string base = dir ? dir : "/tmp";
    return base + "/kx_e2e_" + std::to_string(::getpid()) + "_" + std::to_string(counter++);
#endif
}

} // namespace

std::string kestrix_path() {
    return native_path(KX_BINARY_PATH);
}

process_result run_kestrix(const std::vector<std::string>& args, const run_options& opt) {
    const std::string base = temp_base();
    const std::string in_path = base + ".in", out_path = base + ".out", err_path = base + ".err";
    write_file(in_path, opt.stdin_text);

    std::string cmd = quote(kestrix_path());
    for (const auto& a : args) {
        cmd += ' ';
        cmd += quote(a);
    }
    if (opt.stdin_closed) {
#ifdef _WIN32
        cmd += " 0<&-";
#else
        cmd += " <&-";
#endif
    } else {
        cmd += " < " + quote(in_path);
    }
    cmd += " > " + quote(out_path) + " 2> " + quote(err_path);
#ifdef _WIN32
    // cmd /c strips one pair of outer quotes from the whole line.
    cmd = "\"" + cmd + "\"";
#endif
    std::fflush(nullptr);
    const int status = std::system(cmd.c_str());

    process_result r;
#ifdef _WIN32
    r.exit_code = status;
#else
    if (WIFEXITED(status)) {
        r.exit_code = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        r.signaled = true;
        r.exit_code = WTERMSIG(status);
    }
    // sh reports a child killed by a signal as 128 + signal.
    if (!r.signaled && r.exit_code > 128 && r.exit_code < 128 + 65) {
        r.signaled = true;
        r.exit_code -= 128;
    }
#endif
    r.out = read_file(out_path);
    r.err = read_file(err_path);
    std::remove(in_path.c_str());
    std::remove(out_path.c_str());
    std::remove(err_path.c_str());
    return r;
}

} // namespace kestrix::test
