#pragma once
// Builders for processor-record lists as the system lists them.
#include "platform/topology.hpp"

#include <initializer_list>
#include <string>
#include <vector>

namespace kestrix::test {

inline std::uint64_t bits(std::initializer_list<unsigned> ns) {
    std::uint64_t m = 0;
    for (unsigned n : ns) {
        m |= std::uint64_t{1} << n;
    }
    return m;
}

// Bits first..last inclusive.
inline std::uint64_t span(unsigned first, unsigned last) {
    std::uint64_t m = 0;
    for (unsigned n = first; n <= last; ++n) {
        m |= std::uint64_t{1} << n;
    }
    return m;
}

inline processor_record numa(std::uint32_t node, std::vector<group_affinity> groups) {
    processor_record r;
    r.relationship = processor_relationship::numa_node;
    r.node_number = node;
    r.groups = std::move(groups);
    return r;
}

inline processor_record cache(std::uint8_t level, std::vector<group_affinity> groups) {
    processor_record r;
    r.relationship = processor_relationship::cache;
    r.cache_level = level;
    r.groups = std::move(groups);
    return r;
}

inline processor_record core_rec(std::uint8_t efficiency, std::vector<group_affinity> groups) {
    processor_record r;
    r.relationship = processor_relationship::core;
    r.efficiency_class = efficiency;
    r.groups = std::move(groups);
    return r;
}

// The placement list as "core.idx" texts.
inline std::string placement_text(const std::vector<logical>& list) {
    std::string out;
    for (const auto& l : list) {
        if (!out.empty()) {
            out += ' ';
        }
        out += std::to_string(l.core_id);
        out += '.';
        out += std::to_string(l.idx);
    }
    return out;
}

inline std::string joined(const std::vector<std::string>& lines) {
    std::string out;
    for (const auto& l : lines) {
        out += l + "\n";
    }
    return out;
}

} // namespace kestrix::test
