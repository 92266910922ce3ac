// This system's sensor reader, run on the machine itself: under Wine it finds what Wine gives (no
// PDH processor counters, the power manager's clock), on Windows the PDH counters.
#include "sensors.hpp"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

namespace kestrix::results {
namespace {

bool stated(const std::optional<std::string>& why) {
    return why.has_value() && !why->empty();
}

bool under_wine() {
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

TEST(SystemSensorsWindows, SayWhatTheSystemGivesAndWhyNotTheRest) {
    const DWORD processors = ::GetActiveProcessorCount(ALL_PROCESSOR_GROUPS);
    // Wine has no PDH processor counters but always answers the power manager's query.
    const bool wine = under_wine();
    for (const bool hypervisor : {false, true}) {
        SCOPED_TRACE(hypervisor ? "under a hypervisor" : "on bare metal");
        const auto reader = open_system_sensors("/", hypervisor);
        ASSERT_NE(reader, nullptr);
        const sensor_status& s = reader->status();
        for (const sensor_source* vendor_only : {&s.temperature, &s.power}) {
            EXPECT_FALSE(vendor_only->found());
            EXPECT_EQ(vendor_only->unavailable, "not available without a vendor driver");
        }
        EXPECT_FALSE(s.throttle.found());
        EXPECT_TRUE(stated(s.throttle.unavailable));

        if (wine) {
            EXPECT_EQ(s.clock_label, "reported") << s.clock.unavailable.value_or("");
        }
        if (s.clock.found()) {
            EXPECT_EQ(s.logical_processors, processors);
            EXPECT_FALSE(s.clock.unavailable);
            EXPECT_TRUE(s.clock_label == "effective" || s.clock_label == "reported")
                << s.clock_label;
            if (s.clock_label == "reported") {
                // Only a PDH failure leads here, and the record says which.
                ASSERT_TRUE(stated(s.clock.note));
                EXPECT_NE(s.clock.note->find("PDH: "), std::string::npos) << *s.clock.note;
                EXPECT_EQ(s.clock.note->find("nominal") != std::string::npos, hypervisor)
                    << *s.clock.note;
            }
        } else {
            EXPECT_TRUE(s.clock_label.empty()) << s.clock_label;
            EXPECT_TRUE(stated(s.clock.unavailable));
        }

        const sensor_reading first = reader->read();
        ::Sleep(200);
        const sensor_reading second = reader->read();
        for (const sensor_reading* r : {&first, &second}) {
            ASSERT_EQ(r->clock_mhz.size(), s.logical_processors);
            EXPECT_FALSE(r->temperature_c);
            EXPECT_FALSE(r->energy_j);
            EXPECT_FALSE(r->power_w);
            EXPECT_FALSE(r->throttle_events);
        }
        for (std::size_t cpu = 0; cpu < s.logical_processors; ++cpu) {
            SCOPED_TRACE("processor " + std::to_string(cpu));
            if (s.clock_label == "effective") {
                EXPECT_FALSE(first.clock_mhz[cpu]) << "a rate from one collection";
            }
            if (!s.clock.found()) {
                EXPECT_FALSE(second.clock_mhz[cpu]);
                continue;
            }
            ASSERT_TRUE(second.clock_mhz[cpu]);
            EXPECT_GE(*second.clock_mhz[cpu], 100);
            EXPECT_LE(*second.clock_mhz[cpu], 10000);
        }
    }
}

} // namespace
} // namespace kestrix::results
