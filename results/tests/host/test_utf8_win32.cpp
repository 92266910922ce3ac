#include "utf8_win32.hpp"

#include <gtest/gtest.h>

namespace kestrix::results {
namespace {

// Registry values, host names and paths may hold any character; the record keeps them as UTF-8.
TEST(Utf8, WindowsTextsBecomeUtf8) {
    const struct {
        std::wstring_view in;
        std::string_view out;
    } rows[] = {
        {L"", ""},
        {L"American Megatrends Inc.", "American Megatrends Inc."},
        {L"C:\\Programme\\Prüfstand", "C:\\Programme\\Pr\xC3\xBC"
                                      "fstand"},
        {L"\u20AC 5", "\xE2\x82\xAC 5"},
        {L"\U0001D11E", "\xF0\x9D\x84\x9E"}, // a surrogate pair
        {std::wstring_view(L"a\0b", 3), std::string_view("a\0b", 3)},
        {std::wstring_view(L"\xD800x", 2), "\xEF\xBF\xBDx"}, // an unpaired surrogate
    };
    for (const auto& r : rows) {
        EXPECT_EQ(utf8(r.in), r.out) << r.out;
    }
}

} // namespace
} // namespace kestrix::results
