#include "console/animation.hpp"

#include "console/output.hpp"

#include <chrono>
#include <thread>

namespace kestrix {

// Source text is UTF-8; the Latin-1 characters are two bytes each, 206 bytes per frame.
const std::array<std::string_view, 4> animation_frames = {
    "\n"
    "                              \n"
    "          ,.·´¯`·.,           \n"
    "    .·´¯¯¯         `·.    /|  \n"
    "  ,´  °      ))       `·./ |  \n"
    "  =                  ¸.·´\\ |  \n"
    "   `·..___________..·´    \\|  \n",

    "\n"
    "                              \n"
    "          ,.·´¯`·.,           \n"
    "    .·´¯¯¯         `·.   |\\   \n"
    "o ,´  °      ))       `·.| \\  \n"
    "  <                  ¸.·´| /  \n"
    "   `·..___________..·´   |/   \n",

    "\n"
    "o                             \n"
    "          ,.·´¯`·.,           \n"
    "    .·´¯¯¯         `·.    /|  \n"
    "  ,´  °      ))       `·./ |  \n"
    "  =                  ¸.·´\\ |  \n"
    "   `·..___________..·´    \\|  \n",

    "\n"
    "                              \n"
    "          ,.·´¯`·.,           \n"
    "    .·´¯¯¯         `·.   |\\   \n"
    "  ,´  °      ))       `·.| \\  \n"
    "  =                  ¸.·´| /  \n"
    "   `·..___________..·´   |/   \n",
};

namespace {

// Sleeps, never spins; an early wake-up sleeps again for the rest.
void hold_for(std::chrono::milliseconds period) {
    const auto deadline = std::chrono::steady_clock::now() + period;
    for (;;) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) {
            return;
        }
        std::this_thread::sleep_for(deadline - now);
    }
}

} // namespace

void run_animation() {
    for (int round = 0; round < 4; ++round) {
        for (std::string_view frame : animation_frames) {
            write_text(stream::out, frame);
            hold_for(std::chrono::milliseconds(400));
            cursor_up(7);
        }
    }
    write_text(stream::out, animation_frames[3]);
    write_line(stream::out, "");
}

} // namespace kestrix
