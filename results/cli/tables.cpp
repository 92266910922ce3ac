#include "cli/any_records.hpp"
#include "cli/commands.hpp"
#include "model/storage.hpp"
#include "output/exporters.hpp"
#include "output/sensor_export.hpp"
#include "output/timeline_export.hpp"

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
    auto* c = setup_table(app, o, "show", "per-point statistics of each record");
    c->add_flag("--series", o.series,
                "the score and sensors over time of every sub-run (csv or json)");
    return c;
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
    const table_format f = format_of(o.format);
    if (o.series && f == table_format::md) {
        throw input_error("--series writes csv or json: add --format csv or --format json");
    }
    const std::vector<loaded_record> all = load_any_records(o.files);
    // The score over time belongs to records of kestrix runs; stress records have none.
    const records_by_kind k = by_kind(all);
    if (o.series) {
        return print(f == table_format::csv ? series_csv(k.runs, k.views)
                                            : series_json(k.runs, k.views));
    }
    return print(show_any_text(all, f) + (f == table_format::md
                                              ? timeline_summary_lines(k.runs, k.views) +
                                                    sensor_summary_lines(k.runs, k.views)
                                              : std::string()));
}

int compare_command(const table_options& o) {
    return print(compare_text(load_views(o.files, nullptr), format_of(o.format)));
}

} // namespace kestrix::results
