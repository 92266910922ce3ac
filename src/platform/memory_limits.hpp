#pragma once
// Memory limits that lie below the system's free memory: the control groups a Linux process
// belongs to, and (through memory_headroom) a Windows job object. Pure functions over text; the
// backends read the files and ask the system.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrix {

// One limit with what is used of it already.
struct memory_limit {
    std::uint64_t limit = 0;
    std::uint64_t usage = 0;
};

// The smallest limit minus usage (0 where the usage has reached the limit); nothing without
// limits.
std::optional<std::uint64_t> memory_headroom(const std::vector<memory_limit>& limits);

// The free memory as the backends report it: the system's figure (0 unknown) lowered to the
// headroom. A known headroom of 0 gives 1, so that an exhausted limit is not taken for
// "unknown", which would switch the memory checks off.
std::uint64_t limited_available(std::uint64_t system_available,
                                std::optional<std::uint64_t> headroom);

// A hierarchy this process belongs to: the controller's line of /proc/self/cgroup.
struct cgroup_membership {
    int version = 0;  // 1 (memory controller) or 2 (unified)
    std::string path; // relative to the hierarchy's root, starting with '/'
};

// The memory-controller (v1) and unified (v2) lines of /proc/self/cgroup; malformed lines are
// skipped.
std::vector<cgroup_membership> parse_proc_cgroup(std::string_view text);

// A mounted hierarchy from /proc/self/mountinfo.
struct cgroup_mount {
    int version = 0;
    std::string root;        // the part of the hierarchy mounted there
    std::string mount_point; // octal escapes decoded
};

// The cgroup2 mounts and the cgroup (v1) mounts that carry the memory controller.
std::vector<cgroup_mount> parse_cgroup_mounts(std::string_view mountinfo);

// The directories of every level of path under the mount, deepest first, ending at the mount
// point. A path outside the mounted part (another cgroup namespace) gives the mount point only.
std::vector<std::string> cgroup_levels(const cgroup_mount& mount, std::string_view path);

// One figure of a cgroup file ("123\n"); "max" and v1's page-rounded "unlimited" values give
// nothing, as does anything malformed.
std::optional<std::uint64_t> parse_cgroup_bytes(std::string_view text);

// A named figure of a memory.stat file ("inactive_file 123"); nothing when absent or malformed.
std::optional<std::uint64_t> cgroup_stat(std::string_view text, std::string_view name);

// Reads a whole file; nothing when it cannot be read.
using file_reader = std::function<std::optional<std::string>(const std::string& path)>;

// The limits of every level of every memory hierarchy this process is in, read through read
// (which sees /proc/self/cgroup, /proc/self/mountinfo and the cgroup files). Levels without
// both files, without a limit or with garbage in them are left out. The usage leaves out the
// inactive file cache (memory.stat), which the kernel reclaims before it kills.
std::vector<memory_limit> cgroup_memory_limits(const file_reader& read);

// The directory of this process's own memory cgroup, with its version: the v1 memory
// hierarchy where one is mounted (on hybrid systems the unified one carries no memory
// controller), else the unified one; nothing when neither is mounted.
std::optional<cgroup_membership> own_memory_cgroup(const file_reader& read);

} // namespace kestrix
