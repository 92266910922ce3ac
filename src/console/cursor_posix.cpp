#include "console/console_platform.hpp"
#include "console/output.hpp"

#include <cstdio>
#include <string>

#include <fmt/format.h>
#include <unistd.h>

namespace kestrix {

namespace {
// A terminal understands the escape sequence; a file or pipe must get nothing at all, so that
// redrawn pictures follow one another there.
bool vt_tried = false;
bool vt_enabled = false;
} // namespace

void console_platform_init() {}

void cursor_up(std::uint32_t lines) {
    if (lines == 0) {
        return;
    }
    if (!vt_tried) {
        vt_tried = true;
        vt_enabled = isatty(fileno(stdout)) == 1;
    }
    if (!vt_enabled) {
        return;
    }
    const std::string seq = fmt::format("\x1b[{}F", lines);
    std::fwrite(seq.data(), 1, seq.size(), stdout);
    std::fflush(stdout);
}

} // namespace kestrix
