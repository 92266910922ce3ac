#include "console/output.hpp"

#include "console/console_platform.hpp"

#include <array>
#include <cstdio>
#include <string>

#include <fmt/format.h>

namespace kestrix {

namespace {

std::FILE* file_of(stream s) {
    return s == stream::err ? stderr : stdout;
}

void put_raw(stream s, std::string_view text) {
    // Standard output first, so that both streams appear in order on one console.
    if (s == stream::err) {
        std::fflush(stdout);
    }
    if (!text.empty()) {
        std::fwrite(text.data(), 1, text.size(), file_of(s));
    }
}

class stdio_sink final : public console_sink {
public:
    void put(stream s, std::string_view text, bool flush) override {
        put_raw(s, text);
        if (flush) {
            std::fflush(file_of(s));
        }
    }
};

} // namespace

console_sink& process_console() {
    static stdio_sink sink;
    return sink;
}

void console_init() {
    std::setvbuf(stderr, nullptr, _IONBF, 0);
    console_platform_init();
}

void write_line(console_sink& sink, stream s, std::string_view text) {
    // One write for text and newline: standard error is unbuffered.
    std::string line;
    line.reserve(text.size() + 1);
    line.append(text);
    line.push_back('\n');
    sink.put(s, line, true);
}

void write_text(console_sink& sink, stream s, std::string_view text) {
    sink.put(s, text, true);
}

void write_unflushed(console_sink& sink, stream s, std::string_view text) {
    sink.put(s, text, false);
}

void write_line(stream s, std::string_view text) {
    write_line(process_console(), s, text);
}

void write_text(stream s, std::string_view text) {
    write_text(process_console(), s, text);
}

void write_unflushed(stream s, std::string_view text) {
    write_unflushed(process_console(), s, text);
}

namespace {

constexpr std::array<std::string_view, 7> byte_units = {"B",   "KiB", "MiB", "GiB",
                                                        "TiB", "PiB", "EiB"};

// x bytes (at least 1024) in the largest unit that keeps it at or above 1.
std::string format_scaled_bytes(double x) {
    std::size_t i = 0;
    while (x >= 1024.0 && i < byte_units.size() - 1) {
        x *= 1.0 / 1024.0;
        ++i;
    }
    return fmt::format("{:.2f} {}", x, byte_units[i]);
}

} // namespace

std::string format_bytes(std::uint64_t bytes) {
    if (bytes < 1024) {
        return fmt::format("{} {}", bytes, byte_units[0]);
    }
    return format_scaled_bytes(static_cast<double>(bytes));
}

std::string format_bytes_times(std::uint64_t count, std::uint64_t each) {
    std::uint64_t product = 0;
    if (!__builtin_mul_overflow(count, each, &product)) {
        return format_bytes(product);
    }
    return format_scaled_bytes(static_cast<double>(count) * static_cast<double>(each));
}

std::string format_si(std::uint64_t value, std::string_view unit) {
    static constexpr std::array<std::string_view, 7> prefixes = {"", "K", "M", "G", "T", "P", "E"};
    double x = static_cast<double>(value);
    std::size_t i = 0;
    while (x >= 1000.0 && i < prefixes.size() - 1) {
        x /= 1000.0;
        ++i;
    }
    if (i == 0) {
        return fmt::format("{} {}{}", value, prefixes[0], unit);
    }
    return fmt::format("{:.2f} {}{}", x, prefixes[i], unit);
}

std::string format_duration(std::uint64_t seconds) {
    const std::uint64_t h = seconds / 3600;
    const std::uint64_t m = (seconds % 3600) / 60;
    const std::uint64_t s = seconds % 60;
    if (h != 0) {
        return fmt::format("{}h {}m {}s", h, m, s);
    }
    if (m != 0) {
        return fmt::format("{}m {}s", m, s);
    }
    return fmt::format("{}s", s);
}

} // namespace kestrix
