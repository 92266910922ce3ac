#include "platform/isa.hpp"

namespace kestrix {

std::optional<isa_kind> parse_isa_name(std::string_view text) {
    for (std::size_t i = 0; i < isa_names.size(); ++i) {
        if (isa_names[i] == text) {
            return static_cast<isa_kind>(i);
        }
    }
    return std::nullopt;
}

bool is_valid_isa_name(std::string_view text) {
    return parse_isa_name(text).has_value();
}

} // namespace kestrix
