#include "topology_root.hpp"

namespace kestrix::results {

// Windows reads no system files: the root is always the machine itself.
std::optional<cpu_topology> read_topology(const std::filesystem::path&) {
    return detect_topology();
}

} // namespace kestrix::results
