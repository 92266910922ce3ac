#pragma once
// What the operating system tells about itself and the machine. One implementation per
// system (host_posix.cpp, host_win32.cpp), chosen by CMake.
#include <cstdint>
#include <string>

namespace kestrix::results {

struct host_facts {
    std::string os_name;                // "Debian GNU/Linux 12 (bookworm)", "Windows"
    std::string os_version;             // "12", "10.0"
    std::string kernel;                 // "6.1.0-18-amd64 #1 SMP ...", "build 19045"
    std::string host_name;              // empty when unknown
    std::uint64_t total_memory = 0;     // bytes, 0 when unknown
    int packages = 0;                   // processor packages, 0 when unknown
    std::uint64_t available_memory = 0; // bytes, 0: the platform layer's figure for this machine
};

host_facts query_host();

std::string utc_now(); // "2026-12-09T17:08:00Z"

} // namespace kestrix::results
