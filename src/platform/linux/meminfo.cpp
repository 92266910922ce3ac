#include "platform/linux/meminfo.hpp"

#include <charconv>

namespace kestrix {

std::optional<std::uint64_t> meminfo_bytes(std::string_view text, std::string_view name) {
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        std::string_view line = text.substr(at, end - at);
        at = end + 1;
        if (line.size() <= name.size() || line.substr(0, name.size()) != name ||
            line[name.size()] != ':') {
            continue;
        }
        line.remove_prefix(name.size() + 1);
        while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) {
            line.remove_prefix(1);
        }
        std::uint64_t value = 0;
        const auto [rest, ec] = std::from_chars(line.data(), line.data() + line.size(), value);
        if (ec != std::errc{} || rest == line.data()) {
            return std::nullopt;
        }
        std::string_view unit(rest, static_cast<std::size_t>(line.data() + line.size() - rest));
        while (!unit.empty() && unit.front() == ' ') {
            unit.remove_prefix(1);
        }
        while (!unit.empty() && (unit.back() == ' ' || unit.back() == '\r')) {
            unit.remove_suffix(1);
        }
        std::uint64_t scale = 1;
        if (unit == "kB") {
            scale = 1024;
        } else if (!unit.empty()) {
            return std::nullopt;
        }
        if (value > UINT64_MAX / scale) {
            return std::nullopt;
        }
        return value * scale;
    }
    return std::nullopt;
}

} // namespace kestrix
