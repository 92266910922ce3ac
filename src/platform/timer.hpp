#pragma once
// The fast (performance counter) and coarse (millisecond tick) timers, their classification,
// integer conversions, overflow prediction and the HWBOT compliance rule.
#include "platform/cpu.hpp"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kestrix {

enum class timer_source : std::uint8_t { unknown = 0, tsc, itsc, hpet, acpi, pit, rtc };

struct timer_record {
    std::int64_t report_frequency = 0;
    std::int64_t underlying_frequency = 0;
    timer_source source = timer_source::unknown;
};
struct fast_timer : timer_record {};
struct coarse_timer : timer_record {};

struct tsc_info {
    bool invariant = false;
    std::uint64_t tsc_frequency = 0;
    std::uint64_t crystal_frequency = 0;
};

fast_timer probe_fast_timer();
coarse_timer probe_coarse_timer();
tsc_info read_tsc_info();
std::string_view timer_source_name(timer_source s);

std::int64_t fast_timer_now();
std::uint64_t coarse_timer_now();

std::int64_t elapsed_seconds(const timer_record& t, std::int64_t start, std::int64_t end);
std::int64_t elapsed_milliseconds(const timer_record& t, std::int64_t start, std::int64_t end);
std::int64_t elapsed_microseconds(const timer_record& t, std::int64_t start, std::int64_t end);
bool will_overflow(const timer_record& t, std::int64_t now, std::int64_t seconds);
std::int64_t display_frequency(const timer_record& t);
bool is_hwbot_compliant(const fast_timer& t);

// The pure halves of the probes and of the compliance rule.
timer_source classify_fast_timer(std::int64_t frequency, const tsc_info& tsc);
tsc_info decode_tsc_info(const cpuid_source& cpu);
// windows_6_2_or_later: the system's answer to "version 6.2 or later?" (no outside Windows).
bool hwbot_rule(bool windows_6_2_or_later, timer_source source, cpu_vendor vendor,
                std::int32_t model);

// --timer-debug: the report's lines, then the same written to standard output.
std::vector<std::string> timer_report_lines(const fast_timer& fast, const coarse_timer& coarse,
                                            const tsc_info& tsc, const cpu_vendor_info& vendor,
                                            bool compliant);
void print_timer_report();

} // namespace kestrix
