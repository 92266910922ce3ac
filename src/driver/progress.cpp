#include "driver/progress.hpp"

#include "console/log_text.hpp"
#include "console/output.hpp"

#include <iterator>
#include <string_view>

namespace kestrix {
namespace {

void append(fmt::memory_buffer& out, std::string_view text) {
    out.append(text.data(), text.data() + text.size());
}

} // namespace

void format_progress(fmt::memory_buffer& out, std::int64_t elapsed_seconds, std::uint32_t duration,
                     std::span<const progress_slot> slots) {
    double rate = 0.0;
    std::uint64_t iterations = 0;
    for (const auto& slot : slots) {
        rate += slot.mgups.load(std::memory_order_relaxed);
        const std::uint64_t n = slot.iterations.load(std::memory_order_relaxed);
        if (n > iterations) {
            iterations = n;
        }
    }
    out.clear();
    out.push_back('\r');
    append(out, log_text::progress);
    fmt::format_to(std::back_inserter(out), "{}/{}s {:>16.4g}", elapsed_seconds, duration, rate);
    append(out, log_text::mgups);
    fmt::format_to(std::back_inserter(out), "  {}", iterations);
    append(out, log_text::iterations);
}

void print_progress(console_sink& sink, std::int64_t elapsed_seconds, std::uint32_t duration,
                    std::span<const progress_slot> slots) {
    // Once per step of the main worker: keep the formatting free of fresh allocations.
    thread_local fmt::memory_buffer buffer;
    format_progress(buffer, elapsed_seconds, duration, slots);
    write_text(sink, stream::out, std::string_view(buffer.data(), buffer.size()));
}

} // namespace kestrix
