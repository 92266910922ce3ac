// The Linux backend: sysfs below the root path; on the real root, hwloc's whole topology (every
// processor, allowed or not) fills in caches and packages where sysfs lists none, as in virtual
// machines without cache directories (hwloc then asks CPUID).
#include "machine_facts.hpp"

#include <hwloc.h>

namespace kestrix::results {

namespace {

void from_hwloc(machine_answers& m) {
    hwloc_topology_t topology = nullptr;
    if (hwloc_topology_init(&topology) != 0) {
        return;
    }
    hwloc_topology_set_flags(topology, HWLOC_TOPOLOGY_FLAG_INCLUDE_DISALLOWED);
    if (hwloc_topology_load(topology) == 0) {
        const char* source = "hwloc whole topology";
        if (!m.caches.value) {
            std::vector<cache_level> caches;
            for (const hwloc_obj_type_t type :
                 {HWLOC_OBJ_L1CACHE, HWLOC_OBJ_L1ICACHE, HWLOC_OBJ_L2CACHE, HWLOC_OBJ_L2ICACHE,
                  HWLOC_OBJ_L3CACHE, HWLOC_OBJ_L3ICACHE, HWLOC_OBJ_L4CACHE, HWLOC_OBJ_L5CACHE}) {
                for (hwloc_obj_t o = hwloc_get_next_obj_by_type(topology, type, nullptr);
                     o != nullptr; o = hwloc_get_next_obj_by_type(topology, type, o)) {
                    const auto& c = o->attr->cache;
                    const char* kind = c.type == HWLOC_OBJ_CACHE_DATA          ? "data"
                                       : c.type == HWLOC_OBJ_CACHE_INSTRUCTION ? "instruction"
                                                                               : "unified";
                    caches.push_back({c.depth, kind, c.size, 1});
                }
            }
            if (!caches.empty()) {
                m.caches = decltype(m.caches)::known(group_caches(caches), source);
            }
        }
        const int packages = hwloc_get_nbobjs_by_type(topology, HWLOC_OBJ_PACKAGE);
        if (!m.packages.value && packages > 0) {
            m.packages = fact<std::uint32_t>::known(static_cast<std::uint32_t>(packages), source);
        }
    }
    hwloc_topology_destroy(topology);
}

} // namespace

machine_answers read_machine(const std::filesystem::path& root) {
    machine_answers m = read_sysfs_machine(root);
    if (root == "/" && (!m.caches.value || !m.packages.value)) {
        from_hwloc(m);
    }
    return m;
}

} // namespace kestrix::results
