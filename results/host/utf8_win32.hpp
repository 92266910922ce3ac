#pragma once
// Windows answers in UTF-16; records and the console take UTF-8.
#include <string>
#include <string_view>

namespace kestrix::results {

// The UTF-8 form of a UTF-16 text; an unpaired surrogate becomes U+FFFD.
std::string utf8(std::wstring_view w);

} // namespace kestrix::results
