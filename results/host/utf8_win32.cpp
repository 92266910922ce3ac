#include "utf8_win32.hpp"

#include <windows.h>

namespace kestrix::results {

std::string utf8(std::wstring_view w) {
    if (w.empty()) {
        return {};
    }
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr,
                                        0, nullptr, nullptr);
    std::string s(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
    if (n > 0) {
        ::WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), s.data(), n,
                              nullptr, nullptr);
    }
    return s;
}

} // namespace kestrix::results
