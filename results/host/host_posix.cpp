#include "host/fs_root.hpp"
#include "host/host.hpp"

#include <ctime>
#include <set>
#include <sstream>
#include <string>

#include <sys/utsname.h>
#include <unistd.h>

namespace kestrix::results {
namespace {

std::string os_release_value(const std::filesystem::path& root, const std::string& key) {
    std::istringstream in(read_below(root, "/etc/os-release").text.value_or(""));
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(key + "=", 0) == 0) {
            std::string v = line.substr(key.size() + 1);
            if (v.size() >= 2 && v.front() == '"' && v.back() == '"') {
                v = v.substr(1, v.size() - 2);
            }
            return v;
        }
    }
    return {};
}

std::string kernel_value(const std::filesystem::path& root, const char* name) {
    return trim(read_below(root, std::string("/proc/sys/kernel/") + name).text.value_or(""));
}

// "MemTotal:  16318480 kB" in bytes; 0 when absent.
std::uint64_t meminfo_bytes(const std::filesystem::path& root, const std::string& name) {
    std::istringstream in(read_below(root, "/proc/meminfo").text.value_or(""));
    for (std::string line; std::getline(in, line);) {
        if (line.rfind(name + ":", 0) == 0) {
            std::istringstream fields(line.substr(name.size() + 1));
            std::uint64_t kb = 0;
            return fields >> kb ? kb * 1024 : 0;
        }
    }
    return 0;
}

} // namespace

host_facts query_host() {
    const std::filesystem::path root = fs_root().path;
    host_facts h;
    if (is_real_root(root)) {
        struct utsname u {};
        if (::uname(&u) == 0) {
            h.kernel = std::string(u.sysname) + " " + u.release + " " + u.version;
            h.os_name = u.sysname;
        }
        char name[256] = {};
        if (::gethostname(name, sizeof name - 1) == 0) {
            h.host_name = name;
        }
        const long pages = ::sysconf(_SC_PHYS_PAGES), page = ::sysconf(_SC_PAGESIZE);
        if (pages > 0 && page > 0) {
            h.total_memory = static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(page);
        }
    } else {
        // What uname, gethostname and sysconf answer, as the recorded machine's files say it.
        const std::string type = kernel_value(root, "ostype");
        if (!type.empty()) {
            h.kernel =
                type + " " + kernel_value(root, "osrelease") + " " + kernel_value(root, "version");
            h.os_name = type;
        }
        h.host_name = kernel_value(root, "hostname");
        h.total_memory = meminfo_bytes(root, "MemTotal");
        h.available_memory = meminfo_bytes(root, "MemAvailable");
    }
    if (const auto pretty = os_release_value(root, "PRETTY_NAME"); !pretty.empty()) {
        h.os_name = pretty;
    }
    h.os_version = os_release_value(root, "VERSION_ID");
    std::set<std::string> ids;
    for (int cpu = 0; cpu < 16384; ++cpu) {
        std::istringstream in(read_below(root, "/sys/devices/system/cpu/cpu" + std::to_string(cpu) +
                                                   "/topology/physical_package_id")
                                  .text.value_or(""));
        std::string id;
        if (!(in >> id)) {
            if (cpu > 0) {
                break;
            }
            continue;
        }
        ids.insert(id);
    }
    h.packages = static_cast<int>(ids.size());
    return h;
}

std::string utc_now() {
    const std::time_t t = std::time(nullptr);
    std::tm tm{};
    ::gmtime_r(&t, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return buf;
}

} // namespace kestrix::results
