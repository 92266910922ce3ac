#include "capture/console_events.hpp"

namespace kestrix::results {

void event_recorder::end_piece(bool rewrite) {
    events_.push_back({pending_at_, std::move(pending_), rewrite});
    pending_.clear();
}

void event_recorder::feed(std::string_view chunk, std::int64_t at_ns) {
    for (const char c : chunk) {
        if (pending_cr_) {
            pending_cr_ = false;
            if (c == '\n') {
                end_piece(false); // "\r\n"
                continue;
            }
            end_piece(true);
        }
        if (pending_.empty()) {
            pending_at_ = at_ns;
        }
        if (c == '\n') {
            end_piece(false);
        } else if (c == '\r') {
            pending_cr_ = true;
        } else {
            pending_ += c;
        }
    }
}

std::vector<console_event> event_recorder::finish() {
    if (pending_cr_) {
        pending_cr_ = false;
        end_piece(true);
    } else if (!pending_.empty()) {
        end_piece(true); // no line end: nothing was written after it
    }
    return std::move(events_);
}

std::vector<console_event> events_of(std::string_view text) {
    event_recorder r;
    r.feed(text, 0);
    return r.finish();
}

std::vector<std::string> console_lines(const std::vector<console_event>& events) {
    std::vector<std::string> out;
    const std::string* shown = nullptr; // the last non-empty text of the line so far
    bool open = false;
    for (const auto& e : events) {
        open = true;
        if (!e.text.empty()) {
            shown = &e.text;
        }
        if (!e.rewrite) {
            out.push_back(shown ? *shown : std::string());
            shown = nullptr;
            open = false;
        }
    }
    if (open && shown) {
        out.push_back(*shown);
    }
    return out;
}

std::vector<std::string> console_lines(std::string_view text) {
    return console_lines(events_of(text));
}

} // namespace kestrix::results
