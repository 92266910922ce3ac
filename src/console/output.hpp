#pragma once
// How text reaches the console: one formatted text per line, newline, flush.
// Standard error is unbuffered and flushes standard output before every write, so the two
// streams appear in order on one console.
#include <cstdint>
#include <string>
#include <string_view>

namespace kestrix {

enum class stream { out, err };

// Where a run's text goes. The process has one that writes to the real streams; tests give a
// run one that keeps the text.
class console_sink {
public:
    virtual ~console_sink() = default;
    // text as is on s, flushed when flush is set.
    virtual void put(stream s, std::string_view text, bool flush) = 0;
};

// Standard output and standard error.
console_sink& process_console();

// Once at start-up: standard error unbuffered.
void console_init();

// text + "\n", then flush.
void write_line(console_sink& sink, stream s, std::string_view text);
// text as is (no newline), then flush: the progress line and animation frames.
void write_text(console_sink& sink, stream s, std::string_view text);
// text as is, not flushed: multi-line printouts (help, topology) that the next flushed line
// or the exit flushes.
void write_unflushed(console_sink& sink, stream s, std::string_view text);

// The same on the process's console.
void write_line(stream s, std::string_view text);
void write_text(stream s, std::string_view text);
void write_unflushed(stream s, std::string_view text);

std::string format_bytes(std::uint64_t bytes);
// format_bytes(count * each) without wrapping: a product beyond 64 bits is formatted from its
// real value.
std::string format_bytes_times(std::uint64_t count, std::uint64_t each);
std::string format_si(std::uint64_t value, std::string_view unit);
std::string format_duration(std::uint64_t seconds);

// Moves the cursor to column 1 of the line n lines up; writes nothing when standard output is
// not a terminal.
void cursor_up(std::uint32_t lines);

} // namespace kestrix
