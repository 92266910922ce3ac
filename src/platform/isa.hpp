#pragma once
// The instruction-set variants and their --isa names (listed once, in isa.def).
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace kestrix {

enum class isa_kind : std::uint8_t {
#define KX_ISA(id, name) id,
#include "platform/isa.def"
#undef KX_ISA
};

inline constexpr std::array isa_names = {
#define KX_ISA(id, name) std::string_view(name),
#include "platform/isa.def"
#undef KX_ISA
};

inline constexpr std::size_t isa_count = isa_names.size();

// Exact, case-sensitive comparison with the names.
std::optional<isa_kind> parse_isa_name(std::string_view text);
bool is_valid_isa_name(std::string_view text);

} // namespace kestrix
