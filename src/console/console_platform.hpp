#pragma once
// The platform half of the console: one file per OS, chosen in CMake.

namespace kestrix {

// Called once by console_init.
void console_platform_init();

} // namespace kestrix
