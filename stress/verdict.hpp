#pragma once
// The comparison of the field hashes that workers reached at one step.
#include <cstdint>
#include <vector>

namespace kestrix::stress {

struct hash_entry {
    std::uint32_t cpu = 0;
    std::uint64_t hash = 0;
};

struct verdict {
    // Cores whose hash differs from that of a strict majority.
    std::vector<std::uint32_t> failing;
    // Without a strict majority, every core of the split, named together.
    std::vector<std::uint32_t> disagreeing;
    bool clean() const { return failing.empty() && disagreeing.empty(); }
};

verdict judge(const std::vector<hash_entry>& entries);

} // namespace kestrix::stress
