#include "cli/parser.hpp"

#include "console/log_text.hpp"

#include <fmt/format.h>
#include <fmt/ranges.h>

#include <limits>
#include <type_traits>

namespace kestrix {

namespace {

constexpr std::string_view value_delimiters = "= ";
constexpr std::size_t help_indent = 2;
constexpr std::size_t name_column = 25;

bool is_delimiter(char ch) {
    return value_delimiters.find(ch) != std::string_view::npos;
}

enum class arg_kind { plain, long_option, short_option };

arg_kind classify(std::string_view a) {
    if (a.size() > 2 && a[0] == '-' && a[1] == '-' && a[2] != '-') {
        return arg_kind::long_option;
    }
    if (a.size() > 1 && a[0] == '-' && a[1] != '-') {
        return arg_kind::short_option;
    }
    return arg_kind::plain;
}

struct arg_cursor {
    std::size_t arg = 1;
    std::size_t pos = 1; // inside a group of short options
};

struct read_value_result {
    std::optional<std::string_view> value;
    bool inside = false; // the value was part of the option's own argument
};

read_value_result read_value(std::span<const std::string_view> args, const arg_cursor& at,
                             arg_kind kind) {
    const std::string_view a = args[at.arg];
    const bool has_next = at.arg + 1 < args.size();
    if (kind == arg_kind::short_option) {
        if (at.pos + 1 < a.size()) {
            if (is_delimiter(a[at.pos + 1])) {
                return {a.substr(at.pos + 2), true};
            }
            return {a.substr(at.pos + 1), true};
        }
    } else {
        const std::size_t d = a.find_first_of(value_delimiters);
        if (d != std::string_view::npos) {
            return {a.substr(d + 1), true};
        }
    }
    if (has_next) {
        return {args[at.arg + 1], false};
    }
    return {std::nullopt, false};
}

template <typename T> std::optional<T> to_unsigned(std::string_view text) {
    if (text.empty()) {
        return std::nullopt;
    }
    T value = 0;
    for (const char ch : text) {
        if (ch < '0' || ch > '9') {
            return std::nullopt;
        }
        const T digit = static_cast<T>(ch - '0');
        if (value > (std::numeric_limits<T>::max() - digit) / 10) {
            return std::nullopt;
        }
        value = static_cast<T>(value * 10 + digit);
    }
    return value;
}

// Stores the value; false when it does not convert.
bool store(const option_target& target, std::string_view value) {
    if (auto* p = std::get_if<std::uint32_t*>(&target)) {
        const auto v = to_unsigned<std::uint32_t>(value);
        if (v) {
            **p = *v;
        }
        return v.has_value();
    }
    if (auto* p = std::get_if<std::uint64_t*>(&target)) {
        const auto v = to_unsigned<std::uint64_t>(value);
        if (v) {
            **p = *v;
        }
        return v.has_value();
    }
    if (auto* p = std::get_if<std::string*>(&target)) {
        **p = std::string(value);
        return true;
    }
    return false;
}

std::optional<std::string> check_declaration(const option_decl& o) {
    if (o.names.empty()) {
        return "No options supplied to opt";
    }
    if (o.is_flag() && o.choice_list) {
        return "Flag options cannot contain choices.";
    }
    for (const auto& n : o.names) {
        if (n.empty()) {
            return "Option name cannot be empty";
        }
        if (n[0] != '-') {
            return "Option name must begin with '-'";
        }
    }
    return std::nullopt;
}

enum class try_result { declined, consumed, stopped, failed };

try_result try_option(const option_decl& o, std::span<const std::string_view> args, arg_cursor& at,
                      std::string& failure) {
    if (auto broken = check_declaration(o)) {
        failure = std::move(*broken);
        return try_result::failed;
    }
    const std::string_view a = args[at.arg];
    const arg_kind kind = classify(a);
    if (kind == arg_kind::plain) {
        return try_result::declined;
    }
    std::string name;
    if (kind == arg_kind::long_option) {
        name = std::string(a.substr(0, a.find_first_of(value_delimiters)));
    } else {
        name = std::string{'-', a[at.pos]};
    }
    bool matches = false;
    for (const auto& n : o.names) {
        matches = matches || n == name;
    }
    if (!matches) {
        return try_result::declined;
    }

    if (o.is_flag()) {
        if (a.find_first_of(value_delimiters) != std::string_view::npos) {
            const auto v = read_value(args, at, kind).value.value_or(std::string_view{});
            failure = fmt::format("{}{}' contains value '{}'.", log_text::flag_with_value, name, v);
            return try_result::failed;
        }
        const auto* stop = std::get_if<stop_target>(&o.target);
        *(stop ? stop->flag : std::get<bool*>(o.target)) = true;
        if (kind == arg_kind::short_option && at.pos + 1 < a.size()) {
            ++at.pos;
        } else {
            ++at.arg;
            at.pos = 1;
        }
        return stop ? try_result::stopped : try_result::consumed;
    }

    const auto [value, inside] = read_value(args, at, kind);
    if (!value) {
        failure = std::string(log_text::expected_argument) + name;
        return try_result::failed;
    }
    if (o.choice_list) {
        bool allowed = false;
        for (const auto& c : *o.choice_list) {
            allowed = allowed || c == *value;
        }
        if (!allowed) {
            failure =
                fmt::format("{}{}' not expected. Allowed values are: {}",
                            log_text::value_not_expected, *value, fmt::join(*o.choice_list, ", "));
            return try_result::failed;
        }
    }
    if (!store(o.target, *value)) {
        failure = fmt::format("{}{}' to destination type", log_text::unable_to_convert, *value);
        return try_result::failed;
    }
    at.arg += inside ? 1 : 2;
    at.pos = 1;
    return try_result::consumed;
}

std::string default_text(const option_target& target) {
    if (auto* p = std::get_if<std::uint32_t*>(&target)) {
        return fmt::format("{}", **p);
    }
    if (auto* p = std::get_if<std::uint64_t*>(&target)) {
        return fmt::format("{}", **p);
    }
    if (auto* p = std::get_if<std::string*>(&target)) {
        return **p;
    }
    return {};
}

template <typename T> option_decl make_value_option(T& target, std::string hint) {
    option_decl o;
    o.target = &target;
    o.value_hint = std::move(hint);
    const std::string d = default_text(o.target);
    if (!d.empty()) {
        o.description = "[default: " + d + "]";
    }
    return o;
}

} // namespace

option_decl& option_decl::name(std::string n) {
    names.push_back(std::move(n));
    return *this;
}

option_decl& option_decl::help(std::string_view text) {
    description = description.empty() ? std::string(text) : fmt::format("{} {}", text, description);
    return *this;
}

option_decl& option_decl::doc(std::string text) {
    program_description = std::move(text);
    return *this;
}

option_decl& option_decl::choices(std::vector<std::string> allowed) {
    choice_list = std::move(allowed);
    return *this;
}

bool option_decl::is_flag() const {
    return std::holds_alternative<bool*>(target) || std::holds_alternative<stop_target>(target);
}

option_decl flag_option(bool& target) {
    option_decl o;
    o.target = &target;
    return o;
}

option_decl stop_flag_option(bool& target) {
    option_decl o;
    o.target = stop_target{&target};
    return o;
}

option_decl value_option(std::uint32_t& target, std::string hint) {
    return make_value_option(target, std::move(hint));
}
option_decl value_option(std::uint64_t& target, std::string hint) {
    return make_value_option(target, std::move(hint));
}
option_decl value_option(std::string& target, std::string hint) {
    return make_value_option(target, std::move(hint));
}

option_table& option_table::add(option_decl decl) {
    options.push_back(std::move(decl));
    return *this;
}

parse_outcome parse(option_table& table, std::span<const std::string_view> args) {
    if (args.empty()) {
        table.program_name.clear();
        return {};
    }
    const std::string_view program = args[0];
    const std::size_t slash = program.find_last_of("\\/");
    table.program_name =
        std::string(slash == std::string_view::npos ? program : program.substr(slash + 1));

    // One pass per accepted option: at most 16 options tried per argument, no recursion.
    std::vector<bool> used(table.options.size(), false);
    arg_cursor at;
    while (at.arg < args.size()) {
        bool accepted = false;
        for (std::size_t k = 0; k < table.options.size() && !accepted; ++k) {
            if (used[k]) {
                continue;
            }
            std::string failure;
            switch (try_option(table.options[k], args, at, failure)) {
            case try_result::declined:
                break;
            case try_result::consumed:
                used[k] = true;
                accepted = true;
                break;
            case try_result::stopped:
                return {};
            case try_result::failed:
                return {std::move(failure)};
            }
        }
        if (!accepted) {
            break;
        }
    }
    if (at.arg < args.size()) {
        return {fmt::format("{}{}", log_text::unrecognized_token, args[at.arg])};
    }
    return {};
}

parse_outcome parse(option_table& table, int argc, const char* const* argv) {
    std::vector<std::string_view> args;
    if (argc > 0 && argv != nullptr) {
        args.reserve(static_cast<std::size_t>(argc));
        for (int i = 0; i < argc; ++i) {
            args.emplace_back(argv[i] != nullptr ? argv[i] : "");
        }
    }
    return parse(table, args);
}

std::string format_option_help(const option_table& table) {
    std::string out;
    const std::string indent(help_indent, ' ');
    if (!table.program_name.empty()) {
        out += fmt::format("{}\n", log_text::usage);
        out += indent + table.program_name;
        for (const auto& o : table.options) {
            out += fmt::format(" [{}", fmt::join(o.names, "|"));
            if (!o.value_hint.empty()) {
                out += fmt::format(" <{}>", o.value_hint);
            }
            out += "]";
        }
        out += "\n\n";
    }

    std::vector<std::string_view> docs;
    for (const auto& o : table.options) {
        if (!o.program_description.empty()) {
            docs.push_back(o.program_description);
        }
    }
    out += fmt::format("{}\n\n", fmt::join(docs, "\n"));

    out += "OPTIONS, ARGUMENTS:\n";
    const std::size_t width = name_column - help_indent;
    for (const auto& o : table.options) {
        std::string entry = fmt::format("{}", fmt::join(o.names, ", "));
        if (!o.value_hint.empty()) {
            entry += fmt::format(" <{}>", o.value_hint);
        }
        if (entry.size() <= width) {
            out += fmt::format("{}{:<{}} {}\n", indent, entry, width, o.description);
        } else {
            out +=
                fmt::format("{}{}\n{}{:<{}} {}\n", indent, entry, indent, "", width, o.description);
        }
    }
    return out;
}

} // namespace kestrix
