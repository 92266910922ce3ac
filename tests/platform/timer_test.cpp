#include "recorded_cpus.hpp"

#include "platform/timer.hpp"

#include <gtest/gtest.h>

namespace kestrix {
namespace {

constexpr std::int64_t int64_max = 9223372036854775807;

TEST(TimerClassification, FrequencyTable) {
    struct row {
        std::int64_t f;
        bool invariant;
        std::uint64_t tsc;
        timer_source expected;
    };
    const row rows[] = {
        {1193182, true, 0, timer_source::pit},
        {1193183, false, 0, timer_source::unknown},
        {32000000, true, 0, timer_source::rtc},
        {32768000, false, 0, timer_source::rtc},
        {3579545, true, 0, timer_source::acpi},
        {3579000, false, 0, timer_source::acpi},
        {3579999, false, 0, timer_source::acpi},
        {3580000, false, 0, timer_source::unknown},
        // the event-timer window wins over a matching invariant TSC
        {143181800, true, 143181800, timer_source::hpet},
        {143100001, false, 0, timer_source::hpet},
        {143299999, false, 0, timer_source::hpet},
        // just outside the window a counter this fast is the TSC
        {143100000, true, 0, timer_source::itsc},
        {143300000, false, 0, timer_source::tsc},
        {143100000, true, 143100000, timer_source::itsc},
        // 10 MHz is the system's virtualised counter: TSC-backed by rule
        {10000000, true, 0, timer_source::itsc},
        {10000000, false, 3600000000, timer_source::tsc},
        {14318180, false, 0, timer_source::hpet},
        {10000001, false, 0, timer_source::hpet},
        {2000000, true, 0, timer_source::unknown},
        {2000000, true, 3600000000, timer_source::unknown},
        // counter equal to the TSC, or to TSC / 1024
        {3600000000, true, 3600000000, timer_source::itsc},
        {3600999999, false, 3600000000, timer_source::tsc},
        {3515625, true, 3600000000, timer_source::itsc},
        {3515625 + 99999, false, 3600000000, timer_source::tsc},
        {3515625 + 100000, false, 3600000000, timer_source::unknown},
        {3515625 - 99999, true, 3600000000, timer_source::itsc},
        // at or above 100 MHz the TSC is taken without a reported frequency
        {100000000, false, 0, timer_source::tsc},
        {1000000000, true, 0, timer_source::itsc},
        {99999999, true, 0, timer_source::hpet},
        {0, true, 0, timer_source::unknown},
        {-5, true, 0, timer_source::unknown},
        // a TSC frequency beyond the signed range matches nothing and must not overflow
        {5000000, true, 0xFFFFFFFFFFFFFFFFull, timer_source::unknown},
        {int64_max, true, 1, timer_source::itsc},
    };
    for (const auto& r : rows) {
        tsc_info tsc;
        tsc.invariant = r.invariant;
        tsc.tsc_frequency = r.tsc;
        EXPECT_EQ(classify_fast_timer(r.f, tsc), r.expected)
            << "f=" << r.f << " invariant=" << r.invariant << " tsc=" << r.tsc;
    }
}

TEST(TscInfo, FromRecordedProcessors) {
    struct row {
        const char* name;
        test::fake_cpu cpu;
        bool invariant;
        std::uint64_t tsc, crystal;
    };
    test::fake_cpu base_only = test::sapphire_rapids(); // crystal not reported: base frequency
    test::fake_cpu leaf15_only = test::alder_lake();
    leaf15_only.set(0, 0, {0x15, 0, 0, 0});
    test::fake_cpu no_denominator = test::alder_lake();
    no_denominator.set(0x15, 0, {0, 0xBC, 0x0249F000, 0});
    test::fake_cpu short_ext = test::alder_lake(); // leaf 0x80000007 beyond the extended range
    short_ext.set(0x80000000u, 0, {0x80000004u, 0, 0, 0});
    const row rows[] = {
        {"alder_lake", test::alder_lake(), true, 3609600000, 38400000},
        {"sapphire_rapids", base_only, true, 2000000000, 0},
        {"zen4 (no leaf 0x15)", test::zen4(), true, 0, 0},
        {"pentium4", test::pentium4(), false, 0, 0},
        {"leaf 0x16 missing", leaf15_only, true, 3609600000, 38400000},
        {"ratio incomplete, base used", no_denominator, true, 3200000000, 38400000},
        {"no leaf 0x80000007", short_ext, false, 3609600000, 38400000},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        const tsc_info t = decode_tsc_info(r.cpu);
        EXPECT_EQ(t.invariant, r.invariant);
        EXPECT_EQ(t.tsc_frequency, r.tsc);
        EXPECT_EQ(t.crystal_frequency, r.crystal);
    }
}

TEST(Compliance, VersionSourceVendorModel) {
    struct row {
        bool newer;
        timer_source source;
        cpu_vendor vendor;
        std::int32_t model;
        bool compliant;
    };
    const row rows[] = {
        {false, timer_source::unknown, cpu_vendor::other, 0, true},
        {false, timer_source::itsc, cpu_vendor::amd, 0x61, true},
        {true, timer_source::itsc, cpu_vendor::amd, 0x61, false},
        {true, timer_source::hpet, cpu_vendor::amd, 0x61, true},
        {true, timer_source::itsc, cpu_vendor::intel, 0x4F, false},
        {true, timer_source::hpet, cpu_vendor::intel, 0x4F, true},
        {true, timer_source::itsc, cpu_vendor::intel, 0x4E, true},
        {true, timer_source::unknown, cpu_vendor::intel, 0x55, true},
        {true, timer_source::itsc, cpu_vendor::intel, 0x3F, false},
        {true, timer_source::tsc, cpu_vendor::intel, 0x4D, false},
        {true, timer_source::itsc, cpu_vendor::other, 0x97, false},
        {true, timer_source::hpet, cpu_vendor::other, 0, true},
        {true, timer_source::acpi, cpu_vendor::amd, 0x4E, false},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(hwbot_rule(r.newer, r.source, r.vendor, r.model), r.compliant)
            << r.newer << " " << timer_source_name(r.source) << " vendor "
            << static_cast<int>(r.vendor) << " model " << r.model;
    }
}

TEST(Elapsed, Conversions) {
    struct row {
        std::int64_t f, start, end;
        std::int64_t s, ms, us;
    };
    const row rows[] = {
        {10000000, 0, 3 * 10000000 + 1, 3, 3000, 3000000},
        {10000000, 0, 10000000 - 1, 0, 999, 999999},
        {1000, 5, 5, 0, 0, 0},
        {1000, 0, 1234, 1, 1234, 1234000},
        {3, 0, 10, 3, 3333, 3333333},
        {1000000000, 100, 100 + 1500000000, 1, 1500, 1500000},
        // a long run at a high rate: the split keeps the product in range
        {1000000000, 0, 9000000000000000000, 9000000000, 9000000000000, 9000000000000000},
        {0, 0, 1000, 0, 0, 0},
        {-1000, 0, 1000, 0, 0, 0},
        // start and end across the signed wrap still give the difference
        {1000, int64_max - 499, static_cast<std::int64_t>(0x8000000000000000ull + 500), 1, 1000,
         1000000},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(testing::Message() << "f=" << r.f << " d=" << r.start << ".." << r.end);
        timer_record t;
        t.report_frequency = r.f;
        EXPECT_EQ(elapsed_seconds(t, r.start, r.end), r.s);
        EXPECT_EQ(elapsed_milliseconds(t, r.start, r.end), r.ms);
        EXPECT_EQ(elapsed_microseconds(t, r.start, r.end), r.us);
    }
    // A frequency so high that the sub-second part alone would overflow 64 bits.
    timer_record fast;
    fast.report_frequency = int64_max;
    EXPECT_EQ(elapsed_microseconds(fast, 0, int64_max - 1), 999999);
}

TEST(Elapsed, OverflowPrediction) {
    struct row {
        std::int64_t f, now, seconds;
        bool overflow;
    };
    const row rows[] = {
        {1000, 0, 1000, false},
        {1000, 0, int64_max / 1000, true},
        {1000, 0, int64_max / 1000 - 1, false},
        {1000000000, 0, 9223372036, true},
        {1000000000, 0, 9223372035, false},
        {1000000000, int64_max - 1000000000, 1, true},
        {1000000000, int64_max - 2000000000, 1, false},
        {0, 0, int64_max - 1, false},
        {0, 0, int64_max, true},
        {-1, 123, int64_max, true},
        {1000, -1000, 1000, false}, // a negative reading must not overflow the limit
    };
    for (const auto& r : rows) {
        timer_record t;
        t.report_frequency = r.f;
        EXPECT_EQ(will_overflow(t, r.now, r.seconds), r.overflow)
            << "f=" << r.f << " now=" << r.now << " s=" << r.seconds;
    }
}

TEST(Elapsed, DisplayFrequency) {
    timer_record t;
    t.report_frequency = 1000;
    EXPECT_EQ(display_frequency(t), 1000);
    t.underlying_frequency = 64;
    EXPECT_EQ(display_frequency(t), 64);
}

TEST(TimerReport, Lines) {
    fast_timer fast;
    fast.report_frequency = 10000000;
    fast.underlying_frequency = 10000000;
    fast.source = timer_source::itsc;
    coarse_timer coarse;
    coarse.report_frequency = 1000;
    coarse.underlying_frequency = 64;
    tsc_info tsc;
    tsc.invariant = true;
    tsc.tsc_frequency = 3609600000;
    tsc.crystal_frequency = 38400000;
    cpu_vendor_info vendor{"  Intel(R) Core(TM)", cpu_vendor::intel, 6, 0x97};
    const std::vector<std::string> compliant = {"Fast timer: iTSC",
                                                "underlying frequency: 10.00 MHz",
                                                "report frequency: 10.00 MHz",
                                                "Coarse timer: ",
                                                "underlying frequency: 64 Hz",
                                                "report frequency: 1.00 KHz",
                                                "",
                                                "tsc info:",
                                                "tsc: 3.61 GHz",
                                                "crystal: 38.40 MHz",
                                                "invariant: true",
                                                "",
                                                "  Intel(R) Core(TM)",
                                                "Intel detected",
                                                "detected family: 6 model: 97",
                                                "",
                                                "Fast timer is hwbot compliant"};
    EXPECT_EQ(timer_report_lines(fast, coarse, tsc, vendor, true), compliant);

    fast.source = timer_source::unknown;
    coarse.underlying_frequency = 0;
    tsc = tsc_info{};
    vendor = {"", cpu_vendor::other, 0xF, 0x2F};
    auto lines = timer_report_lines(fast, coarse, tsc, vendor, false);
    ASSERT_EQ(lines.size(), 18u);
    EXPECT_EQ(lines[0], "Fast timer: unknown");
    EXPECT_EQ(lines[4], "underlying frequency: 0 Hz");
    EXPECT_EQ(lines[10], "invariant: false");
    EXPECT_EQ(lines[12], "");
    EXPECT_EQ(lines[13], "unknown vendor");
    EXPECT_EQ(lines[14], "detected family: f model: 2f");
    EXPECT_EQ(lines[16], "Fast timer is not compliant with HWBOT rules");
    EXPECT_EQ(lines[17], "Use --bypass-timer-check to run regardless if you are sure that this is "
                         "a detection error in terms of your windows version, processor, or timer");
    vendor.vendor = cpu_vendor::amd;
    EXPECT_EQ(timer_report_lines(fast, coarse, tsc, vendor, false)[13], "AMD detected");
}

TEST(HostTimers, ProbesAndCounters) {
    const fast_timer fast = probe_fast_timer();
    ASSERT_GT(fast.report_frequency, 0);
    EXPECT_EQ(fast.report_frequency, fast.underlying_frequency);
    const coarse_timer coarse = probe_coarse_timer();
    EXPECT_EQ(coarse.report_frequency, 1000);
    EXPECT_EQ(coarse.source, timer_source::unknown);
    EXPECT_GE(coarse.underlying_frequency, 0);
    const std::int64_t a = fast_timer_now();
    const std::int64_t b = fast_timer_now();
    EXPECT_LE(a, b);
    const std::uint64_t c = coarse_timer_now();
    EXPECT_LE(c, coarse_timer_now());
    EXPECT_FALSE(will_overflow(fast, b, 1002));
    EXPECT_FALSE(will_overflow(coarse, static_cast<std::int64_t>(c), 1002));
}

} // namespace
} // namespace kestrix
