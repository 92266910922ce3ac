#pragma once
// Figures of the kernel's meminfo text ("Name:   123 kB").
#include <cstdint>
#include <optional>
#include <string_view>

namespace kestrix {

// The named field in bytes; nothing when the field is absent or malformed.
std::optional<std::uint64_t> meminfo_bytes(std::string_view text, std::string_view name);

} // namespace kestrix
