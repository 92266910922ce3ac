#include "console/animation.hpp"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

namespace kestrix {
namespace {

std::size_t code_points(std::string_view s) {
    std::size_t n = 0;
    for (const char c : s) {
        n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }
    return n;
}

std::vector<std::string_view> lines_of(std::string_view frame) {
    std::vector<std::string_view> lines;
    std::size_t start = 1; // after the leading newline
    for (std::size_t nl; (nl = frame.find('\n', start)) != std::string_view::npos; start = nl + 1) {
        lines.push_back(frame.substr(start, nl - start));
    }
    EXPECT_EQ(start, frame.size()) << "text after the last newline";
    return lines;
}

TEST(Animation, FrameGeometryAllowsRedrawInPlace) {
    for (std::size_t f = 0; f < animation_frames.size(); ++f) {
        const std::string_view frame = animation_frames[f];
        SCOPED_TRACE(f + 1);
        EXPECT_EQ(frame.size(), 206u);
        EXPECT_EQ(code_points(frame), 187u);
        ASSERT_FALSE(frame.empty());
        EXPECT_EQ(frame[0], '\n');
        EXPECT_EQ(frame.find('\x1b'), std::string_view::npos);
        const auto lines = lines_of(frame);
        ASSERT_EQ(lines.size(), 6u);
        for (const auto line : lines) {
            EXPECT_EQ(code_points(line), 30u) << line;
        }
    }
}

// Positions (line, byte) where two frames differ.
std::size_t differences(std::string_view a, std::string_view b) {
    std::size_t n = 0;
    for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) {
        n += a[i] != b[i];
    }
    return n;
}

TEST(Animation, TailFlapsAndBubbleRises) {
    const auto& fr = animation_frames;
    // Frames 1 and 3 differ only by the risen bubble; 2 and 4 by the open mouth and bubble.
    EXPECT_EQ(differences(fr[0], fr[2]), 1u);
    EXPECT_EQ(differences(fr[1], fr[3]), 2u);
    EXPECT_GT(differences(fr[0], fr[1]), 2u);
    EXPECT_GT(differences(fr[2], fr[3]), 2u);
    // The bubble of frame 3 sits at the top-left corner.
    EXPECT_NE(lines_of(fr[2])[0][0], ' ');
    EXPECT_EQ(lines_of(fr[0])[0][0], ' ');
}

} // namespace
} // namespace kestrix
