#include "host/host.hpp"

#include <ctime>
#include <fstream>
#include <set>
#include <string>

#include <sys/utsname.h>
#include <unistd.h>

namespace kestrix::results {
namespace {

std::string os_release_value(const std::string& key) {
    std::ifstream in("/etc/os-release");
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

} // namespace

host_facts query_host() {
    host_facts h;
    struct utsname u {};
    if (::uname(&u) == 0) {
        h.kernel = std::string(u.sysname) + " " + u.release + " " + u.version;
        h.os_name = u.sysname;
    }
    if (const auto pretty = os_release_value("PRETTY_NAME"); !pretty.empty()) {
        h.os_name = pretty;
    }
    h.os_version = os_release_value("VERSION_ID");
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) == 0) {
        h.host_name = name;
    }
    const long pages = ::sysconf(_SC_PHYS_PAGES), page = ::sysconf(_SC_PAGESIZE);
    if (pages > 0 && page > 0) {
        h.total_memory = static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(page);
    }
    std::set<std::string> ids;
    for (int cpu = 0; cpu < 16384; ++cpu) {
        std::ifstream in("/sys/devices/system/cpu/cpu" + std::to_string(cpu) +
                         "/topology/physical_package_id");
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
