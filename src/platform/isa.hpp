#pragma once
// The nine instruction-set variants and their --isa names.
#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace kestrix {

enum class isa_kind : std::uint8_t {
    sse2,
    avx,
    avx2,
    fma,
    fma_apx,
    avx512f,
    avx512vl,
    avx10_2_256,
    avx10_2_512,
};

inline constexpr std::array<std::string_view, 9> isa_names = {
    "sse2", "avx", "avx2", "fma", "fma-apx", "avx512f", "avx512vl", "avx10-2-256", "avx10-2-512"};

// Exact, case-sensitive comparison with the nine names.
std::optional<isa_kind> parse_isa_name(std::string_view text);
bool is_valid_isa_name(std::string_view text);

} // namespace kestrix
