#pragma once
// The report's Markdown: section headings and pipe tables, written to standard output as the
// sections measure, so that a report cut short still shows what it has.
#include <fmt/format.h>

#include <initializer_list>
#include <string>
#include <string_view>

namespace kestrix::bench::md {

// "\n## text\n\n".
inline void heading(std::string_view text) {
    fmt::print("\n## {}\n\n", text);
}

struct column {
    std::string_view name;
    bool numeric = true; // right-aligned
};

// The header row and its alignment row.
inline void table_head(std::initializer_list<column> columns) {
    std::string names = "|";
    std::string rule = "|";
    for (const column& c : columns) {
        names += fmt::format(" {} |", c.name);
        rule += c.numeric ? "---:|" : "---|";
    }
    fmt::print("{}\n{}\n", names, rule);
}

// One row; every cell as fmt's "{}" writes it.
template <class... Cells> void row(const Cells&... cells) {
    std::string line = "|";
    ((line += fmt::format(" {} |", cells)), ...);
    fmt::print("{}\n", line);
}

// Cells of a fixed number of decimals, a signed one, and a percentage of a fraction.
inline std::string fixed(double v, int decimals) {
    return fmt::format("{:.{}f}", v, decimals);
}
inline std::string signed_percent(double fraction, int decimals) {
    return fmt::format("{:+.{}f} %", 100.0 * fraction, decimals);
}
inline std::string percent(double fraction, int decimals = 0) {
    return fmt::format("{:.{}f} %", 100.0 * fraction, decimals);
}

// "- text\n": the report's findings under a table.
template <class... Args> void item(fmt::format_string<Args...> f, Args&&... args) {
    fmt::print("- {}\n", fmt::format(f, std::forward<Args>(args)...));
}

} // namespace kestrix::bench::md
