#pragma once
// kestrix's console output as it arrived: each piece of text up to a newline or a carriage
// return, with the steady-clock time it came. Progress lines rewrite themselves with "\r", so a
// run's score over time is in these events, while the lines a console ends up showing (what
// the log reader needs) are folded out of them.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kestrix::results {

struct console_event {
    std::int64_t at_ns = 0; // steady clock, since the child started
    std::string text;       // without its "\n", "\r\n" or "\r"
    bool rewrite = false;   // ended by a lone "\r": the next text goes over it
};

// Cuts text into events as it arrives, in pieces of any size.
class event_recorder {
public:
    void feed(std::string_view chunk, std::int64_t at_ns);
    // The text after the last line end, if any, becomes the last event.
    std::vector<console_event> finish();
    const std::vector<console_event>& events() const { return events_; }

private:
    std::vector<console_event> events_;
    std::string pending_;
    std::int64_t pending_at_ = 0;
    bool pending_cr_ = false; // a "\r" seen, its meaning ("\r\n" or a rewrite) not yet known
    void end_piece(bool rewrite);
};

// Events of a whole saved text (no times).
std::vector<console_event> events_of(std::string_view text);

// The lines as a console shows them: of a line rewritten in place only the last text remains.
std::vector<std::string> console_lines(const std::vector<console_event>& events);
std::vector<std::string> console_lines(std::string_view text);

} // namespace kestrix::results
