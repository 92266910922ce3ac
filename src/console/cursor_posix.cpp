#include "console/console_platform.hpp"
#include "console/output.hpp"

#include <csignal>
#include <cstdio>
#include <string>

#include <fcntl.h>
#include <fmt/format.h>
#include <unistd.h>

namespace kestrix {

namespace {
// A terminal understands the escape sequence; a file or pipe must get nothing at all, so that
// redrawn pictures follow one another there.
bool vt_tried = false;
bool vt_enabled = false;
} // namespace

void console_platform_init() {
    // A closed standard descriptor would be taken by the next file the process opens, and the
    // console output would go there: hold its number with the null device instead.
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) == -1) {
            const int null_fd = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
            if (null_fd != -1 && null_fd != fd) {
                dup2(null_fd, fd);
                close(null_fd);
            }
        }
    }
    // Output to a pipe whose reader has gone is lost, like output to a full disk: the run goes
    // on and the process ends with its own exit code rather than being killed mid-run.
    std::signal(SIGPIPE, SIG_IGN);
}

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
