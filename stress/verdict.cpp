#include "stress/verdict.hpp"

#include <algorithm>

namespace kestrix::stress {

verdict judge(const std::vector<hash_entry>& entries) {
    verdict v;
    if (entries.empty()) {
        return v;
    }
    // The most common hash; strict majority when it holds more than half.
    std::uint64_t best = entries.front().hash;
    std::size_t best_count = 0;
    for (const hash_entry& e : entries) {
        const auto count = static_cast<std::size_t>(std::count_if(
            entries.begin(), entries.end(), [&](const hash_entry& o) { return o.hash == e.hash; }));
        if (count > best_count) {
            best = e.hash;
            best_count = count;
        }
    }
    if (best_count == entries.size()) {
        return v;
    }
    const bool majority = best_count * 2 > entries.size();
    for (const hash_entry& e : entries) {
        if (!majority) {
            v.disagreeing.push_back(e.cpu);
        } else if (e.hash != best) {
            v.failing.push_back(e.cpu);
        }
    }
    std::sort(v.failing.begin(), v.failing.end());
    std::sort(v.disagreeing.begin(), v.disagreeing.end());
    v.disagreeing.erase(std::unique(v.disagreeing.begin(), v.disagreeing.end()),
                        v.disagreeing.end());
    return v;
}

} // namespace kestrix::stress
