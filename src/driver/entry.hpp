#pragma once
#include <cstdint>
#include <optional>

namespace kestrix {

// The whole program: parse, dispatch on the mode, exit code 0 or 1. Never throws.
int program_main(int argc, char** argv);

// a * b, or nothing when the product does not fit 64 bits.
std::optional<std::uint64_t> overflow_mul(std::uint64_t a, std::uint64_t b);

} // namespace kestrix
