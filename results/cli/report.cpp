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
    std::vector<record> recs;
    const auto views = load_views(o.files, &recs);
    write_file_atomic(o.output, html_report(recs, views, utc_now()));
    say("report written to " + o.output);
    return 0;
}

} // namespace kestrix::results
