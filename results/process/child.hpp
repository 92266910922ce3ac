#pragma once
// The kestrix child process. One implementation per system (child_posix.cpp,
// child_win32.cpp), chosen by CMake.
#include "capture/console_events.hpp"

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace kestrix::results {

// The kestrix binary beside this program.
std::string default_kestrix_path();
// Empty when `path` names a file this process can start, else why not.
std::string check_executable(const std::string& path);

struct child_result {
    int exit_code = -1;
    bool signaled = false;    // ended by a signal (exit_code holds it)
    bool interrupted = false; // we were asked to stop and passed it on
    // Standard output and standard error as they arrived, every piece with its time,
    // progress rewrites included.
    std::vector<console_event> events;
    // When the child was started: the events' times count from here.
    std::chrono::steady_clock::time_point started{};
};

// Starts `program` with `args`, answers its final "press enter" by a newline on its standard
// input, passes everything it writes through to our own streams as it comes and keeps it as
// timed events. SIGINT/SIGTERM (Ctrl+C on Windows) received meanwhile are passed on to the
// child. Throws std::runtime_error when the child cannot be started.
child_result run_child(const std::string& program, const std::vector<std::string>& args);

inline std::int64_t since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() -
                                                                start)
        .count();
}

} // namespace kestrix::results
