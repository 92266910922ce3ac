#include "platform/timer.hpp"

#include "console/log_text.hpp"
#include "console/output.hpp"
#include "platform/os.hpp"

#include <fmt/format.h>

namespace kestrix {

namespace {

constexpr std::int64_t int64_max = 9223372036854775807;

std::int64_t abs_diff(std::int64_t a, std::int64_t b) {
    const __int128 d = static_cast<__int128>(a) - b;
    return static_cast<std::int64_t>(d < 0 ? -d : d > int64_max ? int64_max : d);
}

// Counter differences wrap instead of overflowing; the sub-second part is scaled in 128 bits so
// that no report frequency can overflow it.
std::int64_t difference(std::int64_t start, std::int64_t end) {
    return static_cast<std::int64_t>(static_cast<std::uint64_t>(end) -
                                     static_cast<std::uint64_t>(start));
}

std::int64_t scaled(std::int64_t d, std::int64_t f, std::int64_t unit) {
    const __int128 whole = static_cast<__int128>(d / f) * unit;
    const __int128 part = static_cast<__int128>(d % f) * unit / f;
    const __int128 sum = whole + part;
    const __int128 lo = -int64_max - 1;
    return static_cast<std::int64_t>(sum > int64_max ? int64_max : sum < lo ? lo : sum);
}

std::string hz(std::int64_t value) {
    return format_si(value > 0 ? static_cast<std::uint64_t>(value) : 0, "Hz");
}

} // namespace

std::string_view timer_source_name(timer_source s) {
    switch (s) {
    case timer_source::tsc:
        return "TSC";
    case timer_source::itsc:
        return "iTSC";
    case timer_source::hpet:
        return "HPET";
    case timer_source::acpi:
        return "ACPI";
    case timer_source::pit:
        return "PIT";
    case timer_source::rtc:
        return "RTC";
    default:
        return "unknown";
    }
}

timer_source classify_fast_timer(std::int64_t f, const tsc_info& tsc) {
    if (f == 1193182) {
        return timer_source::pit;
    }
    if (f == 32000000 || f == 32768000) {
        return timer_source::rtc;
    }
    if (f >= 3579000 && f <= 3579999) {
        return timer_source::acpi;
    }
    if (f >= 143100001 && f <= 143299999) {
        return timer_source::hpet;
    }
    const timer_source tentative = tsc.invariant ? timer_source::itsc : timer_source::tsc;
    if (tsc.tsc_frequency != 0) {
        // A TSC frequency beyond the signed range can match nothing a counter reports.
        if (tsc.tsc_frequency <= static_cast<std::uint64_t>(int64_max)) {
            const auto t = static_cast<std::int64_t>(tsc.tsc_frequency);
            if (abs_diff(f, t) < 1000000 || abs_diff(f, t / 1024) < 100000) {
                return tentative;
            }
        }
    }
    if (f >= 100000000 || f == 10000000) {
        return tentative;
    }
    return f > 10000000 ? timer_source::hpet : timer_source::unknown;
}

tsc_info decode_tsc_info(const cpuid_source& cpu) {
    tsc_info info;
    // Leaves past the highest extended leaf answer with unrelated data on some processors.
    if (cpu.cpuid(0x80000000u, 0).eax >= 0x80000007u) {
        info.invariant = ((cpu.cpuid(0x80000007u, 0).edx >> 8) & 1) != 0;
    }
    const std::uint32_t max_leaf = cpu.cpuid(0, 0).eax;
    if (max_leaf < 0x15) {
        return info;
    }
    const cpuid_regs l15 = cpu.cpuid(0x15, 0);
    const std::uint64_t denominator = l15.eax, numerator = l15.ebx, crystal = l15.ecx;
    info.crystal_frequency = crystal;
    std::uint64_t base_mhz = 0;
    if (max_leaf >= 0x16) {
        base_mhz = cpu.cpuid(0x16, 0).eax & 0xFFFF;
    }
    if (crystal != 0 && numerator != 0 && denominator != 0) {
        info.tsc_frequency = crystal * numerator / denominator;
    } else {
        info.tsc_frequency = base_mhz * 1000000;
    }
    return info;
}

bool hwbot_rule(bool windows_6_2_or_later, timer_source source, cpu_vendor vendor,
                std::int32_t model) {
    if (!windows_6_2_or_later) {
        return true;
    }
    if (source == timer_source::hpet) {
        return true;
    }
    return vendor == cpu_vendor::intel && model >= 0x4E && model != 0x4F;
}

fast_timer probe_fast_timer() {
    fast_timer t;
    const std::int64_t f = os::performance_frequency();
    t.report_frequency = f;
    t.underlying_frequency = f;
    t.source = classify_fast_timer(f, read_tsc_info());
    return t;
}

coarse_timer probe_coarse_timer() {
    coarse_timer t;
    t.report_frequency = 1000;
    t.underlying_frequency = os::coarse_tick_frequency();
    t.source = timer_source::unknown;
    return t;
}

tsc_info read_tsc_info() {
    return decode_tsc_info(host_cpuid());
}

std::int64_t elapsed_seconds(const timer_record& t, std::int64_t start, std::int64_t end) {
    const std::int64_t f = t.report_frequency;
    if (f <= 0) {
        return 0;
    }
    return difference(start, end) / f;
}

std::int64_t elapsed_milliseconds(const timer_record& t, std::int64_t start, std::int64_t end) {
    const std::int64_t f = t.report_frequency;
    if (f <= 0) {
        return 0;
    }
    return scaled(difference(start, end), f, 1000);
}

std::int64_t elapsed_microseconds(const timer_record& t, std::int64_t start, std::int64_t end) {
    const std::int64_t f = t.report_frequency;
    if (f <= 0) {
        return 0;
    }
    return scaled(difference(start, end), f, 1000000);
}

bool will_overflow(const timer_record& t, std::int64_t now, std::int64_t seconds) {
    // In 128 bits: a negative current value must not overflow the subtraction.
    const __int128 limit = t.report_frequency <= 0
                               ? static_cast<__int128>(int64_max)
                               : (static_cast<__int128>(int64_max) - now) / t.report_frequency;
    return seconds >= limit;
}

std::int64_t display_frequency(const timer_record& t) {
    return t.underlying_frequency != 0 ? t.underlying_frequency : t.report_frequency;
}

bool is_hwbot_compliant(const fast_timer& t) {
    const bool newer = os::windows_6_2_or_later();
    if (!newer) {
        return true;
    }
    const cpu_vendor_info v = read_cpu_vendor_info();
    return hwbot_rule(newer, t.source, v.vendor, v.model);
}

std::vector<std::string> timer_report_lines(const fast_timer& fast, const coarse_timer& coarse,
                                            const tsc_info& tsc, const cpu_vendor_info& vendor,
                                            bool compliant) {
    namespace lt = log_text;
    auto text = [](std::string_view head, std::string_view value) {
        return std::string(head) + std::string(value);
    };
    std::vector<std::string> lines;
    lines.push_back(text(lt::timer_fast, timer_source_name(fast.source)));
    lines.push_back(text(lt::timer_underlying, hz(fast.underlying_frequency)));
    lines.push_back(text(lt::timer_report, hz(fast.report_frequency)));
    lines.emplace_back(lt::timer_coarse);
    lines.push_back(text(lt::timer_underlying, hz(coarse.underlying_frequency)));
    lines.push_back(text(lt::timer_report, hz(coarse.report_frequency)));
    lines.emplace_back();
    lines.emplace_back(lt::timer_tsc_info);
    lines.push_back(text(lt::timer_tsc, format_si(tsc.tsc_frequency, "Hz")));
    lines.push_back(text(lt::timer_crystal, format_si(tsc.crystal_frequency, "Hz")));
    lines.push_back(fmt::format("{}{}", lt::timer_invariant, tsc.invariant));
    lines.emplace_back();
    lines.push_back(vendor.brand);
    switch (vendor.vendor) {
    case cpu_vendor::intel:
        lines.emplace_back(lt::timer_intel);
        break;
    case cpu_vendor::amd:
        lines.emplace_back(lt::timer_amd);
        break;
    default:
        lines.emplace_back(lt::timer_unknown_vendor);
        break;
    }
    lines.push_back(
        fmt::format("{}{:x} model: {:x}", lt::timer_family, vendor.family, vendor.model));
    lines.emplace_back();
    if (compliant) {
        lines.emplace_back(lt::timer_compliant);
    } else {
        lines.emplace_back(lt::timer_not_compliant);
        lines.emplace_back(
            "Use --bypass-timer-check to run regardless if you are sure that this is "
            "a detection error in terms of your windows version, processor, or "
            "timer");
    }
    return lines;
}

void print_timer_report() {
    const fast_timer fast = probe_fast_timer();
    const coarse_timer coarse = probe_coarse_timer();
    const tsc_info tsc = read_tsc_info();
    const cpu_vendor_info vendor = read_cpu_vendor_info();
    for (const auto& line :
         timer_report_lines(fast, coarse, tsc, vendor, is_hwbot_compliant(fast))) {
        write_line(stream::out, line);
    }
}

} // namespace kestrix
