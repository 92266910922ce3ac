#include "platform/allowed_processors.hpp"

namespace kestrix {

std::vector<processor_record> restrict_records(std::vector<processor_record> records,
                                               std::uint16_t group, std::uint64_t mask) {
    std::vector<processor_record> out;
    out.reserve(records.size());
    for (processor_record& r : records) {
        if (r.relationship == processor_relationship::other) {
            out.push_back(std::move(r));
            continue;
        }
        std::vector<group_affinity> kept;
        for (const group_affinity& g : r.groups) {
            if (g.group == group && (g.mask & mask) != 0) {
                kept.push_back({g.mask & mask, g.group});
            }
        }
        if (kept.empty()) {
            continue;
        }
        r.groups = std::move(kept);
        out.push_back(std::move(r));
    }
    return out;
}

} // namespace kestrix
