#include "conditions.hpp"

#include <chrono>

#include <windows.h>

namespace kestrix::results {

namespace {

template <class T> condition<T> not_available(const char* why) {
    condition<T> c;
    c.unavailable = std::string("not available on Windows: ") + why;
    return c;
}

condition<bool> on_battery() {
    SYSTEM_POWER_STATUS s{};
    if (!::GetSystemPowerStatus(&s)) {
        return not_available<bool>("GetSystemPowerStatus failed");
    }
    condition<bool> c;
    if (s.ACLineStatus == 0 || s.ACLineStatus == 1) {
        c.value = s.ACLineStatus == 0;
        c.source = "GetSystemPowerStatus ACLineStatus";
    } else if (s.BatteryFlag == 128) {
        c.value = false;
        c.source = "GetSystemPowerStatus: no system battery";
    } else {
        c.unavailable = "GetSystemPowerStatus does not know the power source";
    }
    return c;
}

} // namespace

load_sample take_load_sample(const std::filesystem::path&) {
    load_sample s;
    s.why = "not available on Windows: the load is read from Linux's /proc/stat only";
    s.at_s =
        std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
    return s;
}

double clock_ticks_per_second() {
    return 0;
}

run_conditions read_system_conditions(const std::filesystem::path&) {
    run_conditions c;
    const char* plan = "the power plan's processor settings are not read";
    c.frequency_driver = not_available<std::string>(plan);
    c.governor = not_available<per_processor>(plan);
    c.energy_performance_preference = not_available<per_processor>(plan);
    c.turbo = not_available<bool>(plan);
    c.smt = not_available<std::string>("SMT control is not read");
    c.on_battery = on_battery();
    c.transparent_huge_pages = not_available<std::string>("Windows has no transparent huge pages");
    return c;
}

} // namespace kestrix::results
