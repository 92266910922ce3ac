#include "fs_root.hpp"
#include "topology_root.hpp"

#include <cstdlib>
#include <cstring>
#include <string>

#include <hwloc.h>

namespace kestrix::results {

namespace {

// Sets a variable for this program's own reads and puts back what was there before.
class scoped_variable {
public:
    scoped_variable(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name)) {
            old_ = old;
        }
        ::setenv(name, value.c_str(), 1);
    }
    ~scoped_variable() {
        if (old_) {
            ::setenv(name_, old_->c_str(), 1);
        } else {
            ::unsetenv(name_);
        }
    }
    scoped_variable(const scoped_variable&) = delete;
    scoped_variable& operator=(const scoped_variable&) = delete;

private:
    const char* name_;
    std::optional<std::string> old_;
};

// Whether hwloc's Linux discovery read the tree; without it hwloc falls back to CPUID.
bool linux_backend_read_tree() {
    hwloc_topology_t topology = nullptr;
    if (hwloc_topology_init(&topology) != 0) {
        return false;
    }
    bool read_tree = false;
    if (hwloc_topology_load(topology) == 0) {
        const hwloc_obj_t machine = hwloc_get_root_obj(topology);
        for (unsigned i = 0; i < machine->infos_count; ++i) {
            read_tree = read_tree || (std::strcmp(machine->infos[i].name, "Backend") == 0 &&
                                      std::strcmp(machine->infos[i].value, "Linux") == 0);
        }
    }
    hwloc_topology_destroy(topology);
    return read_tree;
}

} // namespace

std::optional<cpu_topology> read_topology(const std::filesystem::path& root) {
    if (is_real_root(root)) {
        return detect_topology();
    }
    const scoped_variable fsroot("HWLOC_FSROOT", root.string());
    // A tree without a processor topology is an answer here, not an error worth hwloc's line.
    const scoped_variable quiet("HWLOC_HIDE_ERRORS", "2");
    if (!linux_backend_read_tree()) {
        return std::nullopt;
    }
    return detect_topology();
}

} // namespace kestrix::results
