#include "records.hpp"

#include "platform/processor_info.hpp"

#include <cstring>
#include <gtest/gtest.h>

namespace kestrix {
namespace {

using test::bits;

// Builds the byte image GetLogicalProcessorInformationEx returns (x64 layout).
class glpi_buffer {
public:
    std::vector<std::uint8_t> bytes;

    glpi_buffer& core(std::uint8_t flags, std::uint8_t efficiency,
                      std::vector<group_affinity> groups) {
        auto r = header(0, 32 + 16 * groups.size());
        r[8] = flags;
        r[9] = efficiency;
        put16(r, 30, static_cast<std::uint16_t>(groups.size()));
        affinities(r, 32, groups);
        return append(r);
    }
    glpi_buffer& node(std::uint32_t number, std::uint16_t group_count,
                      std::vector<group_affinity> groups) {
        auto r = header(1, 32 + 16 * (groups.empty() ? 1 : groups.size()));
        put32(r, 8, number);
        put16(r, 30, group_count);
        affinities(r, 32, groups);
        return append(r);
    }
    glpi_buffer& cache(std::uint8_t level, std::vector<group_affinity> groups) {
        auto r = header(2, 40 + 16 * groups.size());
        r[8] = level;
        r[9] = 12;              // associativity
        put16(r, 10, 64);       // line size
        put32(r, 12, 32 << 20); // cache size
        put32(r, 16, 0);        // unified
        put16(r, 38, static_cast<std::uint16_t>(groups.size()));
        affinities(r, 40, groups);
        return append(r);
    }
    glpi_buffer& package(std::vector<group_affinity> groups) {
        auto r = header(3, 32 + 16 * groups.size());
        put16(r, 30, static_cast<std::uint16_t>(groups.size()));
        affinities(r, 32, groups);
        return append(r);
    }
    glpi_buffer& raw(std::vector<std::uint8_t> r) { return append(r); }

    static void put16(std::vector<std::uint8_t>& r, std::size_t at, std::uint16_t v) {
        std::memcpy(r.data() + at, &v, 2);
    }
    static void put32(std::vector<std::uint8_t>& r, std::size_t at, std::uint32_t v) {
        std::memcpy(r.data() + at, &v, 4);
    }

    std::vector<processor_record> parse() const {
        return parse_processor_information(bytes.data(), bytes.size());
    }

private:
    static std::vector<std::uint8_t> header(std::uint32_t relationship, std::size_t size) {
        std::vector<std::uint8_t> r(size, 0);
        put32(r, 0, relationship);
        put32(r, 4, static_cast<std::uint32_t>(size));
        return r;
    }
    static void affinities(std::vector<std::uint8_t>& r, std::size_t at,
                           const std::vector<group_affinity>& groups) {
        for (const auto& g : groups) {
            std::memcpy(r.data() + at, &g.mask, 8);
            put16(r, at + 8, g.group);
            put16(r, at + 10, 0xBEEF); // reserved words are not part of the affinity
            at += 16;
        }
    }
    glpi_buffer& append(const std::vector<std::uint8_t>& r) {
        for (std::uint8_t byte : r) {
            bytes.push_back(byte);
        }
        return *this;
    }
};

TEST(ProcessorInformation, RecordsInOrder) {
    glpi_buffer b;
    b.core(1, 2, {{bits({0, 1}), 0}})
        .package({{0xFFFF, 0}})
        .cache(1, {{bits({0, 1}), 0}})
        .cache(3, {{0xFFFF, 0}, {0xFF, 1}})
        .node(4, 1, {{0xFFFF, 0}})
        .core(0, 0, {{bits({63}), 0}, {bits({0}), 2}});
    const auto r = b.parse();
    ASSERT_EQ(r.size(), 5u); // the package record is skipped
    EXPECT_EQ(r[0].relationship, processor_relationship::core);
    EXPECT_EQ(r[0].efficiency_class, 2u); // the byte after Flags, not Flags
    ASSERT_EQ(r[0].groups.size(), 1u);
    EXPECT_EQ(r[0].groups[0].mask, 0x3u);
    EXPECT_EQ(r[1].relationship, processor_relationship::cache);
    EXPECT_EQ(r[1].cache_level, 1u);
    EXPECT_EQ(r[2].cache_level, 3u);
    ASSERT_EQ(r[2].groups.size(), 2u);
    EXPECT_EQ(r[2].groups[1].group, 1u);
    EXPECT_EQ(r[2].groups[1].mask, 0xFFu);
    EXPECT_EQ(r[3].relationship, processor_relationship::numa_node);
    EXPECT_EQ(r[3].node_number, 4u);
    ASSERT_EQ(r[4].groups.size(), 2u);
    EXPECT_EQ(r[4].groups[0].mask, std::uint64_t{1} << 63);
    EXPECT_EQ(r[4].groups[1].group, 2u);
}

TEST(ProcessorInformation, NodeRecordOfOlderSystemsWithoutGroupCount) {
    glpi_buffer b;
    b.node(1, 0, {{0xF0, 3}});
    const auto r = b.parse();
    ASSERT_EQ(r.size(), 1u);
    ASSERT_EQ(r[0].groups.size(), 1u);
    EXPECT_EQ(r[0].groups[0].mask, 0xF0u);
    EXPECT_EQ(r[0].groups[0].group, 3u);
}

TEST(ProcessorInformation, MalformedBuffersStopTheWalk) {
    glpi_buffer good;
    good.core(0, 0, {{1, 0}});
    struct row {
        const char* name;
        std::vector<std::uint8_t> tail;
        std::size_t records;
    };
    std::vector<std::uint8_t> zero_size(8, 0); // Size 0 would loop forever
    std::vector<std::uint8_t> too_long(40, 0);
    glpi_buffer::put32(too_long, 4, 400);
    std::vector<std::uint8_t> short_core(16, 0);
    glpi_buffer::put32(short_core, 4, 16);
    std::vector<std::uint8_t> overclaimed(48, 0); // GroupCount 9, room for one affinity
    glpi_buffer::put32(overclaimed, 4, 48);
    glpi_buffer::put16(overclaimed, 30, 9);
    overclaimed[32] = 0x5;
    std::vector<std::uint8_t> short_cache(36, 0);
    glpi_buffer::put32(short_cache, 0, 2);
    glpi_buffer::put32(short_cache, 4, 36);
    const row rows[] = {
        {"partial header", {1, 0, 0}, 1},
        {"zero size", zero_size, 1},
        {"size past the end", too_long, 1},
        {"core record too short", short_core, 1},
        {"group count beyond the record", overclaimed, 2},
        {"cache record too short", short_cache, 1},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        glpi_buffer b = good;
        b.raw(r.tail);
        const auto records = b.parse();
        EXPECT_EQ(records.size(), r.records);
        if (records.size() == 2) {
            ASSERT_EQ(records[1].groups.size(), 1u);
            EXPECT_EQ(records[1].groups[0].mask, 0x5u);
        }
    }
    EXPECT_TRUE(parse_processor_information(nullptr, 100).empty());
    EXPECT_TRUE(parse_processor_information(good.bytes.data(), 0).empty());
}

TEST(ProcessorInformation, FeedsTheTopology) {
    // Hybrid part as the system lists it: caches and cores interleaved, classes 1 and 0.
    glpi_buffer b;
    b.node(0, 1, {{0x3F, 0}})
        .cache(3, {{0x3F, 0}})
        .core(1, 1, {{0x3, 0}})
        .cache(2, {{0x3, 0}})
        .core(1, 1, {{0xC, 0}})
        .core(0, 0, {{0x10, 0}})
        .core(0, 0, {{0x20, 0}});
    const cpu_topology t = build_topology(b.parse());
    EXPECT_EQ(t.perf_level_count, 2u);
    EXPECT_EQ(test::joined(topology_lines(t)), "perf_level_count=2\n"
                                               "numa node id=0\n"
                                               "|--llc id=0\n"
                                               "|  |--core id=0 perf_level=0\n"
                                               "|  |  |--logical idx=0 os=0\n"
                                               "|  |  |--logical idx=1 os=1\n"
                                               "|  |--core id=1 perf_level=0\n"
                                               "|  |  |--logical idx=0 os=2\n"
                                               "|  |  |--logical idx=1 os=3\n"
                                               "|  |--core id=2 perf_level=1\n"
                                               "|  |  |--logical idx=0 os=4\n"
                                               "|  |--core id=3 perf_level=1\n"
                                               "|  |  |--logical idx=0 os=5\n");
}

} // namespace
} // namespace kestrix
