#pragma once
// The hidden --kestrix option: a fish swimming in place on the console.
#include <array>
#include <string_view>

namespace kestrix {

// Each frame: a leading newline and 6 lines of 30 characters, so that moving the cursor up
// 7 lines and writing the next frame replaces every character of the previous one.
extern const std::array<std::string_view, 4> animation_frames;

// 16 frames, 400 ms each, then the last one again; about 6.4 seconds.
void run_animation();

} // namespace kestrix
