#pragma once

namespace kestrix {

// The whole program: parse, dispatch on the mode, exit code 0 or 1. Never throws.
int program_main(int argc, char** argv);

} // namespace kestrix
