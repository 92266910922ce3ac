#pragma once
// The option parser: declared options bound to variables, one pass over the argument vector,
// and the help writer that lays the options out.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace kestrix {

struct stop_target {
    bool* flag;
};

using option_target =
    std::variant<bool*, stop_target, std::uint32_t*, std::uint64_t*, std::string*>;

struct option_decl {
    std::vector<std::string> names;
    std::string value_hint;
    std::string description;
    std::string program_description;
    std::uint32_t min_count = 0;
    std::uint32_t max_count = 1;
    option_target target;
    std::optional<std::vector<std::string>> choice_list;

    option_decl& name(std::string n);
    // The description becomes the help text, followed by the default suffix if there is one.
    option_decl& help(std::string_view text);
    option_decl& doc(std::string text);
    option_decl& choices(std::vector<std::string> allowed);

    bool is_flag() const;
};

option_decl flag_option(bool& target);
option_decl stop_flag_option(bool& target);
// Value options: the description starts as "[default: <current value>]" (empty when the
// current value prints as the empty text).
option_decl value_option(std::uint32_t& target, std::string hint);
option_decl value_option(std::uint64_t& target, std::string hint);
option_decl value_option(std::string& target, std::string hint);

struct option_table {
    std::vector<option_decl> options;
    std::string program_name = "<executable>";

    option_table& add(option_decl decl);
};

struct parse_outcome {
    std::optional<std::string> failure;
    bool ok() const { return !failure.has_value(); }
};

// args[0] is the program name; with no elements the program name is empty.
parse_outcome parse(option_table& table, std::span<const std::string_view> args);
parse_outcome parse(option_table& table, int argc, const char* const* argv);

// The lines of the help writer: usage, description paragraph and option list.
std::string format_option_help(const option_table& table);

} // namespace kestrix
