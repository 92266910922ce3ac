// Container memory limits read from recorded cgroup trees, and the record list cut down to the
// processors a process may use.
#include "platform/allowed_processors.hpp"
#include "platform/memory_limits.hpp"

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace kestrix {
namespace {

using tree = std::map<std::string, std::string>;

file_reader reader_of(const tree& files) {
    return [&files](const std::string& path) -> std::optional<std::string> {
        const auto it = files.find(path);
        if (it == files.end()) {
            return std::nullopt;
        }
        return it->second;
    };
}

const std::string v2_mounts =
    "24 30 0:22 / /sys/fs/cgroup rw,nosuid,nodev,noexec,relatime shared:4 - cgroup2 cgroup2 "
    "rw,nsdelegate,memory_recursiveprot\n"
    "25 30 0:23 / /proc rw,nosuid - proc proc rw\n";

const std::string v1_mounts =
    "30 22 0:27 / /sys/fs/cgroup rw,relatime - tmpfs tmpfs rw,mode=755\n"
    "31 30 0:28 / /sys/fs/cgroup/cpu,cpuacct rw,relatime - cgroup cgroup rw,cpu,cpuacct\n"
    "34 30 0:31 / /sys/fs/cgroup/memory rw,relatime - cgroup cgroup rw,memory\n"
    "40 30 0:37 / /sys/fs/cgroup/unified rw,relatime - cgroup2 cgroup2 rw\n";

const std::string v1_cgroup = "4:memory:/ci/job7\n3:cpu,cpuacct:/\n0::/\n";

constexpr std::uint64_t gib = std::uint64_t{1} << 30;
constexpr std::uint64_t mib = std::uint64_t{1} << 20;

TEST(cgroup_memory, headroom_over_recorded_trees) {
    struct row {
        const char* name;
        tree files;
        std::optional<std::uint64_t> headroom;
    };
    const std::vector<row> rows = {
        {"v2 leaf limit",
         {{"/proc/self/cgroup", "0::/user.slice/box\n"},
          {"/proc/self/mountinfo", v2_mounts},
          {"/sys/fs/cgroup/user.slice/box/memory.max", "1073741824\n"},
          {"/sys/fs/cgroup/user.slice/box/memory.current", "104857600\n"},
          {"/sys/fs/cgroup/user.slice/memory.max", "max\n"},
          {"/sys/fs/cgroup/user.slice/memory.current", "5000000000\n"}},
         gib - 100 * mib},
        {"reclaimable file cache is not in use",
         {{"/proc/self/cgroup", "0::/a\n"},
          {"/proc/self/mountinfo", v2_mounts},
          {"/sys/fs/cgroup/a/memory.max", "1000\n"},
          {"/sys/fs/cgroup/a/memory.current", "900\n"},
          {"/sys/fs/cgroup/a/memory.stat", "anon 100\nactive_file 200\ninactive_file 600\n"}},
         700},
        {"v1 counts the subtree's cache",
         {{"/proc/self/cgroup", v1_cgroup},
          {"/proc/self/mountinfo", v1_mounts},
          {"/sys/fs/cgroup/memory/ci/job7/memory.limit_in_bytes", "1000"},
          {"/sys/fs/cgroup/memory/ci/job7/memory.usage_in_bytes", "900"},
          {"/sys/fs/cgroup/memory/ci/job7/memory.stat",
           "inactive_file 100\ntotal_inactive_file 300\n"}},
         400},
        {"garbage cache figure counts as none",
         {{"/proc/self/cgroup", "0::/a\n"},
          {"/proc/self/mountinfo", v2_mounts},
          {"/sys/fs/cgroup/a/memory.max", "1000\n"},
          {"/sys/fs/cgroup/a/memory.current", "900\n"},
          {"/sys/fs/cgroup/a/memory.stat", "inactive_file lots\n"}},
         100},
        {"v2 nested: the parent is tighter",
         {{"/proc/self/cgroup", "0::/a/b\n"},
          {"/proc/self/mountinfo", v2_mounts},
          {"/sys/fs/cgroup/a/b/memory.max", "4294967296"},
          {"/sys/fs/cgroup/a/b/memory.current", "0"},
          {"/sys/fs/cgroup/a/memory.max", "2147483648"},
          {"/sys/fs/cgroup/a/memory.current", "1073741824"}},
         gib},
        {"v2 max everywhere",
         {{"/proc/self/cgroup", "0::/a\n"},
          {"/proc/self/mountinfo", v2_mounts},
          {"/sys/fs/cgroup/a/memory.max", "max\n"},
          {"/sys/fs/cgroup/a/memory.current", "12345\n"}},
         std::nullopt},
        {"v2 usage beyond the limit",
         {{"/proc/self/cgroup", "0::/a\n"},
          {"/proc/self/mountinfo", v2_mounts},
          {"/sys/fs/cgroup/a/memory.max", "1000\n"},
          {"/sys/fs/cgroup/a/memory.current", "2000\n"}},
         0},
        {"v1 with the unlimited value above",
         {{"/proc/self/cgroup", v1_cgroup},
          {"/proc/self/mountinfo", v1_mounts},
          {"/sys/fs/cgroup/memory/ci/job7/memory.limit_in_bytes", "1073741824\n"},
          {"/sys/fs/cgroup/memory/ci/job7/memory.usage_in_bytes", "73741824\n"},
          {"/sys/fs/cgroup/memory/ci/memory.limit_in_bytes", "9223372036854771712\n"},
          {"/sys/fs/cgroup/memory/ci/memory.usage_in_bytes", "973741824\n"},
          {"/sys/fs/cgroup/memory/memory.limit_in_bytes", "9223372036854771712\n"},
          {"/sys/fs/cgroup/memory/memory.usage_in_bytes", "20973741824\n"}},
         1000000000},
        {"v1 limit on the ancestor only",
         {{"/proc/self/cgroup", v1_cgroup},
          {"/proc/self/mountinfo", v1_mounts},
          {"/sys/fs/cgroup/memory/ci/job7/memory.limit_in_bytes", "9223372036854771712"},
          {"/sys/fs/cgroup/memory/ci/job7/memory.usage_in_bytes", "100"},
          {"/sys/fs/cgroup/memory/ci/memory.limit_in_bytes", "600"},
          {"/sys/fs/cgroup/memory/ci/memory.usage_in_bytes", "200"}},
         400},
        {"missing usage file",
         {{"/proc/self/cgroup", v1_cgroup},
          {"/proc/self/mountinfo", v1_mounts},
          {"/sys/fs/cgroup/memory/ci/job7/memory.limit_in_bytes", "1073741824\n"}},
         std::nullopt},
        {"garbage in the files",
         {{"/proc/self/cgroup", "0::/a\n"},
          {"/proc/self/mountinfo", v2_mounts},
          {"/sys/fs/cgroup/a/memory.max", "12k\n"},
          {"/sys/fs/cgroup/a/memory.current", "5\n"},
          {"/sys/fs/cgroup/memory.max", "-1\n"},
          {"/sys/fs/cgroup/memory.current", "5\n"}},
         std::nullopt},
        {"no mountinfo",
         {{"/proc/self/cgroup", "0::/a\n"},
          {"/sys/fs/cgroup/a/memory.max", "1000\n"},
          {"/sys/fs/cgroup/a/memory.current", "5\n"}},
         std::nullopt},
        {"container: its own group mounted as the root",
         {{"/proc/self/cgroup", "0::/docker/abc\n"},
          {"/proc/self/mountinfo",
           "24 30 0:22 /docker/abc /sys/fs/cgroup ro - cgroup2 cgroup2 rw\n"},
          {"/sys/fs/cgroup/memory.max", "536870912\n"},
          {"/sys/fs/cgroup/memory.current", "0\n"}},
         512 * mib},
        {"cgroup namespace: a path above the mounted part",
         {{"/proc/self/cgroup", "0::/../../sibling\n"},
          {"/proc/self/mountinfo", v2_mounts},
          {"/sys/fs/cgroup/memory.max", "2048\n"},
          {"/sys/fs/cgroup/memory.current", "1024\n"}},
         1024},
        {"hybrid: the memory-less unified tree is ignored",
         {{"/proc/self/cgroup", v1_cgroup},
          {"/proc/self/mountinfo", v1_mounts},
          {"/sys/fs/cgroup/unified/memory.max", "10\n"},
          {"/sys/fs/cgroup/unified/memory.current", "0\n"}},
         10},
    };
    for (const row& r : rows) {
        const auto limits = cgroup_memory_limits(reader_of(r.files));
        EXPECT_EQ(memory_headroom(limits), r.headroom) << r.name;
    }
}

TEST(cgroup_memory, membership_and_mount_lines) {
    const auto members = parse_proc_cgroup("12:memory:/a/b\n"
                                           "11:cpu,memory:/c\n"
                                           "10:blkio:/d\n"
                                           "0::/e:f\n"
                                           "garbage\n"
                                           "9:memory:relative\n"
                                           "1:name=systemd:/g\n");
    ASSERT_EQ(members.size(), 3u);
    EXPECT_EQ(members[0].version, 1);
    EXPECT_EQ(members[0].path, "/a/b");
    EXPECT_EQ(members[1].path, "/c");
    EXPECT_EQ(members[2].version, 2);
    EXPECT_EQ(members[2].path, "/e:f");

    const auto mounts =
        parse_cgroup_mounts(v1_mounts + "50 30 0:40 /x /mnt/my\\040cg rw shared:9 - cgroup2 none "
                                        "rw\n"
                                        "51 30 0:41 / /short - cgroup2\n"
                                        "52 30 0:42 / /cg rw - cgroup cgroup rw,memoryless\n");
    ASSERT_EQ(mounts.size(), 3u);
    EXPECT_EQ(mounts[0].version, 1);
    EXPECT_EQ(mounts[0].mount_point, "/sys/fs/cgroup/memory");
    EXPECT_EQ(mounts[1].version, 2);
    EXPECT_EQ(mounts[2].root, "/x");
    EXPECT_EQ(mounts[2].mount_point, "/mnt/my cg");
}

TEST(cgroup_memory, levels_and_values) {
    const cgroup_mount m{2, "/", "/sys/fs/cgroup"};
    EXPECT_EQ(
        cgroup_levels(m, "/a/b/"),
        (std::vector<std::string>{"/sys/fs/cgroup/a/b", "/sys/fs/cgroup/a", "/sys/fs/cgroup"}));
    EXPECT_EQ(cgroup_levels(m, "/"), (std::vector<std::string>{"/sys/fs/cgroup"}));
    EXPECT_EQ(cgroup_levels(m, "/../../other"), (std::vector<std::string>{"/sys/fs/cgroup"}));
    const cgroup_mount inner{2, "/kube/pod", "/cg"};
    EXPECT_EQ(cgroup_levels(inner, "/kube/pod/c1"), (std::vector<std::string>{"/cg/c1", "/cg"}));
    EXPECT_EQ(cgroup_levels(inner, "/kube/pod2"), (std::vector<std::string>{"/cg"}));

    struct value_row {
        const char* text;
        std::optional<std::uint64_t> value;
    };
    for (const value_row& r : std::vector<value_row>{{"0\n", 0},
                                                     {" 4096 \n", 4096},
                                                     {"max\n", std::nullopt},
                                                     {"9223372036854771712\n", std::nullopt},
                                                     {"99999999999999999999999\n", std::nullopt},
                                                     {"", std::nullopt},
                                                     {"12 34", std::nullopt},
                                                     {"-5", std::nullopt}}) {
        EXPECT_EQ(parse_cgroup_bytes(r.text), r.value) << '"' << r.text << '"';
    }
}

TEST(cgroup_memory, limited_available_keeps_zero_for_unknown_only) {
    EXPECT_EQ(limited_available(8 * gib, std::nullopt), 8 * gib);
    EXPECT_EQ(limited_available(8 * gib, gib), gib);
    EXPECT_EQ(limited_available(gib, 8 * gib), gib);
    EXPECT_EQ(limited_available(0, gib), gib);    // system figure unknown
    EXPECT_EQ(limited_available(8 * gib, 0), 1u); // exhausted, not unknown
    EXPECT_EQ(limited_available(0, std::nullopt), 0u);
    EXPECT_EQ(memory_headroom({}), std::nullopt);
    EXPECT_EQ(memory_headroom({{100, 10}, {50, 45}, {10, 0}}), 5u);
}

TEST(allowed_processors, records_cut_to_the_mask_of_one_group) {
    auto rec = [](processor_relationship rel, std::vector<group_affinity> groups) {
        processor_record r;
        r.relationship = rel;
        r.groups = std::move(groups);
        return r;
    };
    using rel = processor_relationship;
    const std::vector<processor_record> machine = {
        rec(rel::numa_node, {{0xF, 0}}), rec(rel::numa_node, {{0xF, 1}}),
        rec(rel::cache, {{0xF, 0}}),     rec(rel::cache, {{0x3, 0}, {0x3, 1}}),
        rec(rel::core, {{0x3, 0}}),      rec(rel::core, {{0xC, 0}}),
        rec(rel::core, {{0x1, 1}}),      rec(rel::other, {{0x1, 5}}),
    };
    const auto cut = restrict_records(machine, 0, 0x4);
    ASSERT_EQ(cut.size(), 4u);
    EXPECT_EQ(cut[0].relationship, rel::numa_node);
    EXPECT_EQ(cut[0].groups[0].mask, 0x4u);
    EXPECT_EQ(cut[1].relationship, rel::cache);
    EXPECT_EQ(cut[1].groups.size(), 1u);
    EXPECT_EQ(cut[2].relationship, rel::core); // the second core: processor 2 is in it
    EXPECT_EQ(cut[2].groups[0].mask, 0x4u);
    EXPECT_EQ(cut[3].relationship, rel::other);

    const auto whole = build_topology(restrict_records(machine, 0, ~std::uint64_t{0}));
    EXPECT_EQ(core_count(whole), 2u);
    EXPECT_EQ(core_count(build_topology(cut)), 1u);
}

} // namespace
} // namespace kestrix
