#include "driver/config.hpp"

namespace kestrix {

const cpu_topology& get_topology(topology_cache& cache) {
    if (!cache.value) {
        cache.value = detect_topology();
    }
    return *cache.value;
}

} // namespace kestrix
