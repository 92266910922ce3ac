#include "console/output.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace kestrix {
namespace {

constexpr std::uint64_t u64_max = UINT64_MAX;

TEST(Format, Bytes) {
    const struct {
        std::uint64_t bytes;
        const char* text;
    } rows[] = {
        {0, "0 B"},
        {1023, "1023 B"},
        {1024, "1.00 KiB"},
        {1536, "1.50 KiB"},
        {1048575, "1024.00 KiB"},
        {1048576, "1.00 MiB"},
        {18399744, "17.55 MiB"},
        {1ull << 60, "1.00 EiB"},
        {u64_max, "16.00 EiB"},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(format_bytes(r.bytes), r.text) << r.bytes;
    }
}

TEST(Format, BytesOfAProductBeyond64Bits) {
    EXPECT_EQ(format_bytes_times(3, 1024), "3.00 KiB");
    EXPECT_EQ(format_bytes_times(0, UINT64_MAX), "0 B");
    EXPECT_EQ(format_bytes_times(2, 512), "1.00 KiB");
    EXPECT_EQ(format_bytes_times(4, std::uint64_t{1} << 62), "16.00 EiB");
    EXPECT_EQ(format_bytes_times(UINT32_MAX, std::uint64_t{1} << 62), "17179869180.00 EiB");
}

TEST(Format, Si) {
    const struct {
        std::uint64_t value;
        const char* text;
    } rows[] = {
        {0, "0 Hz"},
        {999, "999 Hz"},
        {1000, "1.00 KHz"},
        {999999, "1000.00 KHz"},
        {10000000, "10.00 MHz"},
        {3000000000, "3.00 GHz"},
        {2995200000, "3.00 GHz"},
        {1000000000000000000, "1.00 EHz"},
        {u64_max, "18.45 EHz"},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(format_si(r.value, "Hz"), r.text) << r.value;
    }
    EXPECT_EQ(format_si(1500, ""), "1.50 K");
}

TEST(Format, Duration) {
    const struct {
        std::uint64_t seconds;
        const char* text;
    } rows[] = {
        {0, "0s"},          {59, "59s"},          {60, "1m 0s"},
        {120, "2m 0s"},     {3599, "59m 59s"},    {3600, "1h 0m 0s"},
        {3725, "1h 2m 5s"}, {86400, "24h 0m 0s"}, {u64_max, "5124095576030431h 0m 15s"},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(format_duration(r.seconds), r.text) << r.seconds;
    }
}

} // namespace
} // namespace kestrix
