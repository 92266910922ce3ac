#pragma once
// The live progress line of the timed phase, rewritten in place by the main worker.
#include "driver/run_types.hpp"

#include <cstdint>
#include <span>

#include <fmt/format.h>

namespace kestrix {

// Replaces the buffer's content with the line (carriage return first, no newline).
void format_progress(fmt::memory_buffer& out, std::int64_t elapsed_seconds, std::uint32_t duration,
                     std::span<const progress_slot> slots);

// Formats into a per-thread buffer reused from call to call, writes it and flushes.
void print_progress(console_sink& sink, std::int64_t elapsed_seconds, std::uint32_t duration,
                    std::span<const progress_slot> slots);

} // namespace kestrix
