#include "cli/any_records.hpp"
#include "cli/commands.hpp"
#include "output/exporters.hpp"

#include <cstdio>

namespace kestrix::results {
namespace {

CLI::App* setup_table(CLI::App& app, table_options& o, const char* name, const char* what) {
    auto* c = app.add_subcommand(name, what);
    c->add_option("FILE", o.files, "records")->required();
    c->add_option("--format", o.format, "md (default), csv or json")
        ->check(CLI::IsMember({"md", "csv", "json"}));
    return c;
}

int print(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    return 0;
}

} // namespace

table_format format_of(const std::string& s) {
    return s == "csv" ? table_format::csv : s == "json" ? table_format::json : table_format::md;
}

CLI::App* setup_show(CLI::App& app, table_options& o) {
    return setup_table(app, o, "show", "per-point statistics of each record");
}

CLI::App* setup_compare(CLI::App& app, table_options& o) {
    return setup_table(app, o, "compare", "records side by side against the first");
}

std::string show_text(const std::vector<record_view>& views, table_format f) {
    switch (f) {
    case table_format::csv:
        return csv_show(views);
    case table_format::json:
        return json_show(views);
    default:
        return markdown_show(views);
    }
}

std::string compare_text(const std::vector<record_view>& views, table_format f) {
    switch (f) {
    case table_format::csv:
        return csv_compare(views);
    case table_format::json:
        return json_compare(views);
    default:
        return markdown_compare(views);
    }
}

int show_command(const table_options& o) {
    return print(show_any_text(load_any_records(o.files), format_of(o.format)));
}

int compare_command(const table_options& o) {
    return print(compare_text(load_views(o.files, nullptr), format_of(o.format)));
}

} // namespace kestrix::results
