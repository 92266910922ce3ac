#include "platform/memory_limits.hpp"

#include <algorithm>
#include <charconv>

namespace kestrix {

namespace {

// v1 reports "no limit" as the largest page multiple below 2^63; no real limit comes near 2^62.
constexpr std::uint64_t unlimited_from = std::uint64_t{1} << 62;

std::vector<std::string_view> split(std::string_view text, char sep) {
    std::vector<std::string_view> parts;
    std::size_t at = 0;
    while (true) {
        const std::size_t end = text.find(sep, at);
        parts.push_back(text.substr(at, end == std::string_view::npos ? end : end - at));
        if (end == std::string_view::npos) {
            return parts;
        }
        at = end + 1;
    }
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) {
        s.remove_prefix(1);
    }
    while (!s.empty() &&
           (s.back() == ' ' || s.back() == '\t' || s.back() == '\n' || s.back() == '\r')) {
        s.remove_suffix(1);
    }
    return s;
}

bool has_item(std::string_view list, std::string_view item) {
    const auto items = split(list, ',');
    return std::find(items.begin(), items.end(), item) != items.end();
}

// mountinfo writes space, tab, newline and backslash as \ooo.
std::string unescape(std::string_view s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        const auto octal = [&](std::size_t k, char top) { return s[k] >= '0' && s[k] <= top; };
        if (s[i] == '\\' && s.size() - i > 3 && octal(i + 1, '3') && octal(i + 2, '7') &&
            octal(i + 3, '7')) {
            out +=
                static_cast<char>((s[i + 1] - '0') * 64 + (s[i + 2] - '0') * 8 + (s[i + 3] - '0'));
            i += 3;
        } else {
            out += s[i];
        }
    }
    return out;
}

bool leaves_root(std::string_view path) {
    for (std::string_view segment : split(path, '/')) {
        if (segment == "..") {
            return true;
        }
    }
    return false;
}

std::string join(std::string_view base, std::string_view rel) {
    std::string out(base);
    while (out.size() > 1 && out.back() == '/') {
        out.pop_back();
    }
    if (!rel.empty()) {
        if (out == "/") {
            out.clear();
        }
        out += rel;
    }
    return out;
}

} // namespace

std::optional<std::uint64_t> memory_headroom(const std::vector<memory_limit>& limits) {
    std::optional<std::uint64_t> least;
    for (const memory_limit& l : limits) {
        const std::uint64_t room = l.limit > l.usage ? l.limit - l.usage : 0;
        least = least ? std::min(*least, room) : room;
    }
    return least;
}

std::uint64_t limited_available(std::uint64_t system_available,
                                std::optional<std::uint64_t> headroom) {
    if (!headroom) {
        return system_available;
    }
    const std::uint64_t room = std::max<std::uint64_t>(*headroom, 1);
    return system_available == 0 ? room : std::min(system_available, room);
}

std::vector<cgroup_membership> parse_proc_cgroup(std::string_view text) {
    std::vector<cgroup_membership> out;
    for (std::string_view line : split(text, '\n')) {
        line = trim(line);
        const std::size_t first = line.find(':');
        const std::size_t second =
            first == std::string_view::npos ? first : line.find(':', first + 1);
        if (second == std::string_view::npos) {
            continue;
        }
        const std::string_view id = line.substr(0, first);
        const std::string_view controllers = line.substr(first + 1, second - first - 1);
        const std::string_view path = line.substr(second + 1);
        if (path.empty() || path.front() != '/' || id.empty()) {
            continue;
        }
        if (id == "0" && controllers.empty()) {
            out.push_back({2, std::string(path)});
        } else if (has_item(controllers, "memory")) {
            out.push_back({1, std::string(path)});
        }
    }
    return out;
}

std::vector<cgroup_mount> parse_cgroup_mounts(std::string_view mountinfo) {
    std::vector<cgroup_mount> out;
    for (std::string_view line : split(mountinfo, '\n')) {
        const auto fields = split(trim(line), ' ');
        const auto dash = std::find(fields.begin(), fields.end(), std::string_view("-"));
        // id parent major:minor root mount-point options [optional...] - type source super
        if (dash == fields.end() || dash - fields.begin() < 6 || fields.end() - dash < 4) {
            continue;
        }
        const std::string_view type = dash[1];
        const std::string_view super = dash[3];
        int version = 0;
        if (type == "cgroup2") {
            version = 2;
        } else if (type == "cgroup" && has_item(super, "memory")) {
            version = 1;
        } else {
            continue;
        }
        out.push_back({version, unescape(fields[3]), unescape(fields[4])});
    }
    return out;
}

std::vector<std::string> cgroup_levels(const cgroup_mount& mount, std::string_view path) {
    std::string_view root = mount.root;
    while (root.size() > 1 && root.back() == '/') {
        root.remove_suffix(1);
    }
    std::string_view rel;
    if (!leaves_root(path)) {
        if (root == "/") {
            rel = path;
        } else if (path.substr(0, root.size()) == root &&
                   (path.size() == root.size() || path[root.size()] == '/')) {
            rel = path.substr(root.size());
        }
    }
    while (!rel.empty() && rel.back() == '/') {
        rel.remove_suffix(1);
    }
    std::vector<std::string> levels;
    while (!rel.empty()) {
        levels.push_back(join(mount.mount_point, rel));
        rel = rel.substr(0, rel.rfind('/'));
    }
    levels.push_back(join(mount.mount_point, ""));
    return levels;
}

std::optional<std::uint64_t> parse_cgroup_bytes(std::string_view text) {
    text = trim(text);
    std::uint64_t value = 0;
    const auto [rest, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc{} || rest != text.data() + text.size() ||
        value >= unlimited_from) {
        return std::nullopt;
    }
    return value;
}

std::optional<std::uint64_t> cgroup_stat(std::string_view text, std::string_view name) {
    for (std::string_view line : split(text, '\n')) {
        if (line.size() > name.size() && line.substr(0, name.size()) == name &&
            line[name.size()] == ' ') {
            return parse_cgroup_bytes(line.substr(name.size() + 1));
        }
    }
    return std::nullopt;
}

std::vector<memory_limit> cgroup_memory_limits(const file_reader& read) {
    std::vector<memory_limit> out;
    const std::optional<std::string> own = read("/proc/self/cgroup");
    const std::optional<std::string> mounts = read("/proc/self/mountinfo");
    if (!own || !mounts) {
        return out;
    }
    const auto hierarchies = parse_cgroup_mounts(*mounts);
    for (const cgroup_membership& member : parse_proc_cgroup(*own)) {
        const char* limit_file = member.version == 2 ? "/memory.max" : "/memory.limit_in_bytes";
        const char* usage_file = member.version == 2 ? "/memory.current" : "/memory.usage_in_bytes";
        // v1 counts the whole subtree under "total_"; v2 always does.
        const char* cache_name = member.version == 2 ? "inactive_file" : "total_inactive_file";
        for (const cgroup_mount& mount : hierarchies) {
            if (mount.version != member.version) {
                continue;
            }
            for (const std::string& dir : cgroup_levels(mount, member.path)) {
                const auto limit_text = read(dir + limit_file);
                const auto usage_text = read(dir + usage_file);
                if (!limit_text || !usage_text) {
                    continue;
                }
                const auto limit = parse_cgroup_bytes(*limit_text);
                const auto usage = parse_cgroup_bytes(*usage_text);
                if (!limit || !usage) {
                    continue;
                }
                const std::uint64_t cache =
                    cgroup_stat(read(dir + "/memory.stat").value_or(""), cache_name).value_or(0);
                out.push_back({*limit, *usage - std::min(*usage, cache)});
            }
        }
    }
    return out;
}

std::optional<cgroup_membership> own_memory_cgroup(const file_reader& read) {
    const std::optional<std::string> own = read("/proc/self/cgroup");
    const std::optional<std::string> mounts = read("/proc/self/mountinfo");
    if (!own || !mounts) {
        return std::nullopt;
    }
    const auto hierarchies = parse_cgroup_mounts(*mounts);
    const auto members = parse_proc_cgroup(*own);
    for (int version : {1, 2}) {
        for (const cgroup_membership& member : members) {
            for (const cgroup_mount& mount : hierarchies) {
                if (member.version == version && mount.version == version) {
                    return cgroup_membership{version, cgroup_levels(mount, member.path).front()};
                }
            }
        }
    }
    return std::nullopt;
}

} // namespace kestrix
