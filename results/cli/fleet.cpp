// The fleet report over many machines' records.
#include "analysis/fleet.hpp"
#include "cli/commands.hpp"
#include "model/storage.hpp"
#include "model/stress_record.hpp"

#include <algorithm>
#include <cstdio>
#include <filesystem>

namespace kestrix::results {
namespace {

namespace fs = std::filesystem;

// Files given are read whatever their name; folders give their *.json files, so that batch
// output beside the records is left alone.
std::vector<std::string> record_files(const std::vector<std::string>& paths) {
    std::vector<std::string> out;
    for (const auto& p : paths) {
        std::error_code ec;
        if (!fs::is_directory(p, ec)) {
            out.push_back(p);
            continue;
        }
        std::vector<std::string> found;
        for (fs::directory_iterator it(p, ec), end; !ec && it != end; it.increment(ec)) {
            std::error_code fec;
            if (it->path().extension() == ".json" && it->is_regular_file(fec)) {
                found.push_back(it->path().string());
            }
        }
        if (ec) {
            throw input_error("cannot list " + p + ": " + ec.message());
        }
        std::sort(found.begin(), found.end());
        out.insert(out.end(), found.begin(), found.end());
    }
    return out;
}

std::vector<std::string> host_list(const std::string& text) {
    std::vector<std::string> out;
    std::string name;
    for (char c : text + ",") {
        if (c == ',' || c == ' ' || c == '\n' || c == '\t') {
            if (!name.empty() && std::find(out.begin(), out.end(), name) == out.end()) {
                out.push_back(name);
            }
            name.clear();
        } else {
            name += c;
        }
    }
    return out;
}

} // namespace

CLI::App* setup_fleet(CLI::App& app, fleet_options& o) {
    auto* c = app.add_subcommand(
        "fleet", "many machines' records: each against its peers, the slow and failed named");
    c->add_option("PATH", o.paths, "record files, or folders of *.json records")->required();
    c->add_option("--metric", o.metric,
                  "all (default), single, all_baseline or single_baseline: which number of the "
                  "standard run is compared")
        ->check(CLI::IsMember({"all", "single", "all_baseline", "single_baseline"}));
    c->add_option("--z", o.z_limit, "slow below this robust z-score (default -3.5)");
    c->add_option("--below", o.below_percent,
                  "slow this many percent below the group's median (default 5)")
        ->check(CLI::Range(0.0, 100.0));
    c->add_option("--expect", o.expect,
                  "hosts that must have a record, comma-separated (those without are failed)");
    c->add_option("--format", o.format, "md (default), csv or json")
        ->check(CLI::IsMember({"md", "csv", "json"}));
    return c;
}

int fleet_command(const fleet_options& o) {
    const std::vector<std::string> files = record_files(o.paths);
    std::vector<fleet_input> inputs;
    std::size_t readable = 0;
    for (const auto& f : files) {
        fleet_input in{f, std::nullopt, "", ""};
        try {
            any_record any = load_any_record(f);
            if (any.stress) {
                in.other_kind = "a kestrix-stress record";
            }
            in.rec = std::move(any.run);
            ++readable;
        } catch (const std::exception& e) {
            in.problem = e.what();
        }
        inputs.push_back(std::move(in));
    }
    if (files.empty()) {
        throw input_error("no *.json records found");
    }
    if (readable == 0) {
        throw input_error(files.size() == 1 ? inputs[0].problem
                                            : "none of the " + std::to_string(files.size()) +
                                                  " files is a readable record (" + inputs[0].file +
                                                  ": " + inputs[0].problem + ")");
    }
    const fleet_report r = fleet_of(inputs, *parse_fleet_metric(o.metric),
                                    {o.z_limit, o.below_percent}, host_list(o.expect));
    const std::string text = o.format == "csv"    ? fleet_csv(r)
                             : o.format == "json" ? fleet_json(r)
                                                  : fleet_markdown(r);
    std::fwrite(text.data(), 1, text.size(), stdout);
    return r.slow > 0 || !r.failed.empty() ? 1 : 0;
}

} // namespace kestrix::results
