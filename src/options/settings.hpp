#pragma once
// The run configuration, the harness settings and the mode flags as the option table fills them
// (text as typed), with the names and grid edges they are checked against. The decision
// (options/decision.hpp) turns them into typed values once; nothing below it reads these records.
#include "platform/isa.hpp"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace kestrix {

struct bench_config {
    std::uint32_t threads = 0;
    std::uint32_t duration = 30;
    std::uint64_t size = 192;
    std::string threading = "os";
    std::string workload = "standing_wave";
    std::string isa = "sse2";
    bool strict_isa_check = false;
    bool large_pages = false;
    bool bypass_timer_check = false;
};

inline constexpr std::uint32_t min_duration = 1;
inline constexpr std::uint32_t max_duration = 1000;

inline constexpr std::array<std::uint64_t, 14> grid_edges = {64,  128, 192, 256,  320,  384,  448,
                                                             512, 640, 768, 1024, 2048, 4096, 8192};

inline constexpr std::string_view size_list_text =
    "64, 128, 192, 256, 320, 384, 448, 512, 640, 768, 1024, 2048, 4096, 8192";
inline constexpr std::string_view workload_list_text = "standing_wave, soft_gaussian";
// "sse2, avx, ..., avx10-2-512": the --isa names in their order.
inline std::string isa_list_text() {
    std::string text;
    for (std::string_view name : isa_names) {
        text += text.empty() ? "" : ", ";
        text += name;
    }
    return text;
}

// Memory of one worker's two field arrays: 64 (N+2)^3 bytes (wrapping).
inline constexpr std::uint64_t grid_bytes(std::uint64_t n) {
    return 64 * (n + 2) * (n + 2) * (n + 2);
}

// The harness options as the command line gives them.
struct harness_settings {
    std::uint32_t pause_ms = 1;
    std::uint32_t sub_runs = 3;
    std::string variable = "none";
    std::string option_string;
};

// The entry point's mode flags.
struct mode_flags {
    bool show_help = false;
    bool topo_debug = false;
    bool timer_debug = false;
    bool play_animation = false;
};

} // namespace kestrix
