#include "console/console_platform.hpp"
#include "console/output.hpp"

#include <cstdio>
#include <string>

#include <fcntl.h>
#include <fmt/format.h>
#include <io.h>
#include <windows.h>

namespace kestrix {

namespace {
// The switch into virtual-terminal mode is tried once and never undone.
bool vt_tried = false;
bool vt_enabled = false;
} // namespace

void console_platform_init() {
    // Byte-exact output: no "\r\n" translation, the same bytes as on Linux. The console itself
    // starts a new line at "\n".
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
}

void cursor_up(std::uint32_t lines) {
    if (lines == 0) {
        return;
    }
    if (!vt_tried) {
        vt_tried = true;
        HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
        if (out != INVALID_HANDLE_VALUE) {
            DWORD mode = 0;
            if (GetConsoleMode(out, &mode) &&
                SetConsoleMode(out, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING)) {
                vt_enabled = true;
            }
        }
    }
    if (vt_enabled) {
        const std::string seq = fmt::format("\x1b[{}F", lines);
        std::fwrite(seq.data(), 1, seq.size(), stdout);
    } else {
        HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
        CONSOLE_SCREEN_BUFFER_INFO info;
        if (out == INVALID_HANDLE_VALUE || !GetConsoleScreenBufferInfo(out, &info)) {
            return;
        }
        const SHORT y = info.dwCursorPosition.Y;
        COORD pos;
        pos.X = 0;
        pos.Y = lines <= static_cast<std::uint32_t>(y) ? static_cast<SHORT>(y - lines) : 0;
        SetConsoleCursorPosition(out, pos);
    }
    std::fflush(stdout);
}

} // namespace kestrix
