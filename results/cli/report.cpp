#include "cli/any_records.hpp"
#include "cli/commands.hpp"
#include "host/host.hpp"
#include "model/storage.hpp"
#include "output/exporters.hpp"

namespace kestrix::results {

CLI::App* setup_report(CLI::App& app, report_options& o) {
    auto* c = app.add_subcommand("report", "one self-contained HTML page with charts");
    c->add_option("FILE", o.files, "records")->required();
    c->add_option("-o,--output", o.output, "the HTML file to write")->required();
    return c;
}

int report_command(const report_options& o) {
    const auto all = load_any_records(o.files);
    const records_by_kind k = by_kind(all);
    write_file_atomic(o.output, html_report(k.runs, k.views, utc_now(), k.stress));
    say("report written to " + o.output);
    return 0;
}

} // namespace kestrix::results
