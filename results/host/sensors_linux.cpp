#include "sensors.hpp"

#include <utility>

namespace kestrix::results {

std::unique_ptr<sensor_reader> open_system_sensors(const std::filesystem::path& root,
                                                   bool hypervisor) {
    sysfs_sensor_options options;
    options.hypervisor = hypervisor;
    return open_sysfs_sensors(root, std::move(options));
}

} // namespace kestrix::results
