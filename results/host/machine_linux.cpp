#include "machine_facts.hpp"

namespace kestrix::results {

machine_answers read_machine(const std::filesystem::path& root) {
    return read_sysfs_machine(root);
}

} // namespace kestrix::results
