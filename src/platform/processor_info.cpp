#include "platform/processor_info.hpp"

#include <cstring>

namespace kestrix {

namespace {

// Byte offsets of SYSTEM_LOGICAL_PROCESSOR_INFORMATION_EX (x64 layout).
constexpr std::size_t header_size = 8;       // Relationship, Size
constexpr std::size_t affinity_size = 16;    // KAFFINITY Mask, WORD Group, WORD Reserved[3]
constexpr std::size_t core_efficiency = 9;   // the byte after Flags
constexpr std::size_t core_group_count = 30; // after Flags, EfficiencyClass, Reserved[20]
constexpr std::size_t core_masks = 32;
constexpr std::size_t numa_node_number = 8;
constexpr std::size_t numa_group_count = 30;
constexpr std::size_t numa_masks = 32;
constexpr std::size_t cache_level = 8;
constexpr std::size_t cache_group_count = 38;
constexpr std::size_t cache_masks = 40;

template <typename T> T load(const std::uint8_t* p) {
    T value;
    std::memcpy(&value, p, sizeof value);
    return value;
}

// Up to count affinities, as many as the record really holds.
std::vector<group_affinity> read_affinities(const std::uint8_t* record, std::size_t record_size,
                                            std::size_t offset, std::size_t count) {
    std::vector<group_affinity> out;
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t at = offset + i * affinity_size;
        if (at + affinity_size > record_size) {
            break;
        }
        out.push_back({load<std::uint64_t>(record + at), load<std::uint16_t>(record + at + 8)});
    }
    return out;
}

} // namespace

std::vector<processor_record> parse_processor_information(const std::uint8_t* data,
                                                          std::size_t size) {
    std::vector<processor_record> records;
    std::size_t at = 0;
    while (data != nullptr && at + header_size <= size) {
        const std::uint8_t* record = data + at;
        const auto relationship = load<std::uint32_t>(record);
        const std::size_t record_size = load<std::uint32_t>(record + 4);
        if (record_size < header_size || record_size > size - at) {
            break;
        }
        processor_record r;
        switch (relationship) {
        case 0: // RelationProcessorCore
            if (record_size < core_masks) {
                return records;
            }
            r.relationship = processor_relationship::core;
            r.efficiency_class = record[core_efficiency];
            r.groups = read_affinities(record, record_size, core_masks,
                                       load<std::uint16_t>(record + core_group_count));
            records.push_back(std::move(r));
            break;
        case 1: // RelationNumaNode: the first affinity is there even where GroupCount is not
            if (record_size < numa_masks) {
                return records;
            }
            r.relationship = processor_relationship::numa_node;
            r.node_number = load<std::uint32_t>(record + numa_node_number);
            {
                std::size_t count = load<std::uint16_t>(record + numa_group_count);
                r.groups = read_affinities(record, record_size, numa_masks, count < 1 ? 1 : count);
            }
            records.push_back(std::move(r));
            break;
        case 2: // RelationCache
            if (record_size < cache_masks) {
                return records;
            }
            r.relationship = processor_relationship::cache;
            r.cache_level = record[cache_level];
            r.groups = read_affinities(record, record_size, cache_masks,
                                       load<std::uint16_t>(record + cache_group_count));
            records.push_back(std::move(r));
            break;
        default:
            break;
        }
        at += record_size;
    }
    return records;
}

} // namespace kestrix
