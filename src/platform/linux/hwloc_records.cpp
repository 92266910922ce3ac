#include "platform/linux/hwloc_records.hpp"

#include <map>
#include <string_view>

namespace kestrix {

namespace {

std::vector<group_affinity> affinities(hwloc_const_bitmap_t set, hwloc_const_bitmap_t allowed) {
    std::map<std::uint16_t, std::uint64_t> masks;
    for (int cpu = hwloc_bitmap_first(set); cpu >= 0; cpu = hwloc_bitmap_next(set, cpu)) {
        if (allowed != nullptr && !hwloc_bitmap_isset(allowed, static_cast<unsigned>(cpu))) {
            continue;
        }
        const auto n = static_cast<unsigned>(cpu);
        masks[static_cast<std::uint16_t>(n / 64)] |= std::uint64_t{1} << (n % 64);
    }
    std::vector<group_affinity> out;
    for (const auto& [group, mask] : masks) {
        out.push_back({mask, group});
    }
    return out;
}

// hwloc ranks CPU kinds from the most energy-efficient (index 0) upwards, so the index serves
// as an efficiency class in which higher means faster. Kinds are trusted only when they are
// ranked and come from the system's own efficiencies or core types: kinds that differ only in
// frequency (boosted "preferred" cores of one design) would split a uniform processor into
// levels that the system itself does not report.
bool kinds_are_classes(hwloc_topology_t topology) {
    const int kinds = hwloc_cpukinds_get_nr(topology, 0);
    if (kinds <= 1) {
        return false;
    }
    const hwloc_topology_support* support = hwloc_topology_get_support(topology);
    const bool native = support != nullptr && support->discovery != nullptr &&
                        support->discovery->cpukind_efficiency != 0;
    for (int k = 0; k < kinds; ++k) {
        int efficiency = -1;
        unsigned nr_infos = 0;
        hwloc_info_s* infos = nullptr;
        if (hwloc_cpukinds_get_info(topology, static_cast<unsigned>(k), nullptr, &efficiency,
                                    &nr_infos, &infos, 0) != 0 ||
            efficiency < 0) {
            return false;
        }
        bool typed = false;
        for (unsigned i = 0; i < nr_infos; ++i) {
            typed = typed || std::string_view(infos[i].name) == "CoreType";
        }
        if (!native && !typed) {
            return false;
        }
    }
    return true;
}

std::uint8_t efficiency_class(hwloc_topology_t topology, hwloc_const_bitmap_t cpuset) {
    const int kind = hwloc_cpukinds_get_by_cpuset(topology, cpuset, 0);
    if (kind < 0) {
        return 0;
    }
    return static_cast<std::uint8_t>(kind > 255 ? 255 : kind);
}

} // namespace

std::vector<processor_record> hwloc_processor_records(hwloc_topology_t topology) {
    std::vector<processor_record> records;
    hwloc_const_bitmap_t allowed = hwloc_topology_get_allowed_cpuset(topology);

    const int nodes = hwloc_get_nbobjs_by_type(topology, HWLOC_OBJ_NUMANODE);
    for (int i = 0; i < nodes; ++i) {
        const hwloc_obj_t node = hwloc_get_obj_by_type(topology, HWLOC_OBJ_NUMANODE, i);
        // Only a node record's first affinity counts, and processor groups here are plain
        // slices of 64 that a node may straddle: one record per group keeps every processor
        // in its own node.
        for (const group_affinity& g : affinities(node->cpuset, allowed)) {
            processor_record r;
            r.relationship = processor_relationship::numa_node;
            r.node_number = node->os_index;
            r.groups = {g};
            records.push_back(std::move(r));
        }
    }

    const int caches = hwloc_get_nbobjs_by_type(topology, HWLOC_OBJ_L3CACHE);
    for (int i = 0; i < caches; ++i) {
        const hwloc_obj_t cache = hwloc_get_obj_by_type(topology, HWLOC_OBJ_L3CACHE, i);
        processor_record r;
        r.relationship = processor_relationship::cache;
        r.cache_level = 3;
        r.groups = affinities(cache->cpuset, allowed);
        if (r.groups.empty()) {
            continue;
        }
        records.push_back(std::move(r));
    }

    // Without core objects every processing unit stands for a core of its own.
    const bool classes = kinds_are_classes(topology);
    const hwloc_obj_type_t core_type =
        hwloc_get_nbobjs_by_type(topology, HWLOC_OBJ_CORE) > 0 ? HWLOC_OBJ_CORE : HWLOC_OBJ_PU;
    const int cores = hwloc_get_nbobjs_by_type(topology, core_type);
    for (int i = 0; i < cores; ++i) {
        const hwloc_obj_t c = hwloc_get_obj_by_type(topology, core_type, i);
        processor_record r;
        r.relationship = processor_relationship::core;
        r.groups = affinities(c->cpuset, allowed);
        if (r.groups.empty()) {
            continue;
        }
        r.efficiency_class = classes ? efficiency_class(topology, c->cpuset) : 0;
        records.push_back(std::move(r));
    }
    return records;
}

} // namespace kestrix
