// Placeholder until the system readers land: a reader that finds no source.
#include "sensors.hpp"

namespace kestrix::results {
namespace {
class no_sensors final : public sensor_reader {
public:
    no_sensors() {
        for (sensor_source* s :
             {&status_.clock, &status_.temperature, &status_.power, &status_.throttle}) {
            s->unavailable = "this build reads no sensors";
        }
    }
    const sensor_status& status() const override { return status_; }
    sensor_reading read() override { return {}; }

private:
    sensor_status status_;
};
} // namespace

std::unique_ptr<sensor_reader> open_system_sensors(const std::filesystem::path&, bool) {
    return std::make_unique<no_sensors>();
}
} // namespace kestrix::results
