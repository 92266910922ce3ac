#pragma once
// What the operating system tells about itself, the machine and the child process.
// One implementation per system (host_posix.cpp, host_win32.cpp), chosen by CMake.
#include <cstdint>
#include <string>
#include <vector>

namespace kestrix::results {

struct host_facts {
    std::string os_name;            // "Debian GNU/Linux 12 (bookworm)", "Windows"
    std::string os_version;         // "12", "10.0"
    std::string kernel;             // "6.1.0-18-amd64 #1 SMP ...", "build 19045"
    std::string host_name;          // empty when unknown
    std::uint64_t total_memory = 0; // bytes, 0 when unknown
    int packages = 0;               // processor packages, 0 when unknown
};

host_facts query_host();

// The kestrix binary beside this program.
std::string default_kestrix_path();
// Empty when `path` names a file this process can start, else why not.
std::string check_executable(const std::string& path);

struct child_result {
    int exit_code = -1;
    bool signaled = false;    // ended by a signal (exit_code holds it)
    bool interrupted = false; // we were asked to stop and passed it on
    std::string log;          // standard output and standard error as they arrived
};

// Starts `program` with `args`, answers its final "press enter" by a newline on its standard
// input, passes everything it writes through to our own streams as it comes and keeps a copy.
// SIGINT/SIGTERM (Ctrl+C on Windows) received meanwhile are passed on to the child.
// Throws std::runtime_error when the child cannot be started.
child_result run_child(const std::string& program, const std::vector<std::string>& args);

std::string utc_now(); // "2026-12-09T17:08:00Z"

} // namespace kestrix::results
