#include "commands.hpp"

#include "host.hpp"
#include "log_parser.hpp"
#include "record.hpp"
#include "report.hpp"
#include "system.hpp"
#include "tables.hpp"

#include "kestrix/version.hpp"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <filesystem>
#include <iostream>

namespace kestrix::results {
namespace {

using nlohmann::json;
namespace fs = std::filesystem;

void say(const std::string& line) {
    std::fflush(stdout);
    std::fprintf(stderr, "kestrix-results: %s\n", line.c_str());
}

void ensure_folder(const std::string& dir) {
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (!fs::is_directory(dir, ec)) {
        throw input_error("cannot create the folder " + dir);
    }
}

// Two records of the same second and settings get "-2", "-3", ...: a record never replaces another.
std::string free_name(const fs::path& dir, const std::string& name) {
    const std::string stem = name.substr(0, name.size() - 5); // without ".json"
    fs::path p = dir / name;
    for (int n = 2; fs::exists(p); ++n) {
        p = dir / (stem + "-" + std::to_string(n) + ".json");
    }
    return p.string();
}

std::string write_record(const std::string& dir, const json& rec, const std::string& prefix = "") {
    ensure_folder(dir);
    const std::string path = free_name(dir, prefix + record_file_name(rec));
    write_file_atomic(path, rec.dump(2) + "\n");
    return path;
}

int exit_for(const json& rec) {
    if (rec["mode"] == "error") {
        return 1;
    }
    return rec["invalid_sub_runs"].get<int>() > 0 || !rec["complete"].get<bool>() ? 1 : 0;
}

int cmd_run(const std::string& out_dir, const std::string& label, bool no_host, std::string kestrix,
            const std::vector<std::string>& args) {
    if (kestrix.empty()) {
        kestrix = default_kestrix_path();
    }
    if (const auto problem = check_executable(kestrix); !problem.empty()) {
        throw input_error(problem);
    }
    ensure_folder(out_dir);
    json system = describe_this_machine(!no_host);
    system["start_utc"] = utc_now();
    const child_result child = run_child(kestrix, args);
    system["end_utc"] = utc_now();

    parsed_log log = parse_log(child.log);
    if (!log.recognized) {
        throw input_error(kestrix + " did not write kestrix output: " + log.problem);
    }
    record_context ctx{"run", label, args, true, system, json::object()};
    ctx.extra["kestrix"] = {{"path", kestrix}};
    ctx.extra["child"] = {{"exit_code", child.exit_code},
                          {"signaled", child.signaled},
                          {"interrupted", child.interrupted}};
    json rec = make_record(log, ctx);
    if (child.interrupted) {
        // kestrix ends an interrupted harness with its table, but the sub-runs after the
        // interrupt never ran.
        rec["complete"] = false;
        rec["incomplete_reason"] = "interrupted";
    }
    rec["kestrix"]["path"] = kestrix;
    rec["kestrix"]["version"] =
        log.data.contains("kestrix_version") ? log.data["kestrix_version"] : json(nullptr);
    if (log.data.value("mode", "") == "error") {
        rec["error"] = log.data["error"];
    }
    const std::string path = write_record(out_dir, rec);
    say("record written to " + path);
    if (child.interrupted) {
        say("interrupted: the record holds the sub-runs that finished");
    }
    return exit_for(rec);
}

int cmd_import(const std::string& out_dir, const std::string& label,
               const std::vector<std::string>& logs) {
    // Every log is read and checked before anything is written.
    std::vector<json> recs;
    for (const auto& path : logs) {
        const parsed_log log = parse_log(read_whole_file(path));
        if (!log.recognized || !log.complete) {
            throw input_error(path + ": " + log.problem);
        }
        record_context ctx{"import", label, {}, false, describe_from_log(log.data), json::object()};
        json rec = make_record(log, ctx);
        rec["imported_from"] = fs::path(path).filename().string();
        rec["kestrix"]["path"] = nullptr;
        if (log.data.value("mode", "") == "error") {
            rec["error"] = log.data["error"];
        }
        recs.push_back(rec);
    }
    int code = 0;
    for (auto& rec : recs) {
        const std::string stem = fs::path(rec["imported_from"].get<std::string>()).stem().string();
        rec["system"]["start_utc"] = nullptr;
        // Imports carry no time: the log's name keeps them apart.
        const std::string path = write_record(out_dir, rec, "import_" + stem + "_");
        say("record written to " + path);
        code = std::max(code, exit_for(rec));
    }
    return code;
}

std::vector<record_view> load_views(const std::vector<std::string>& files,
                                    std::vector<json>* keep) {
    std::vector<record_view> views;
    std::vector<json> recs;
    for (const auto& f : files) {
        recs.push_back(load_record(f));
    }
    for (std::size_t i = 0; i < files.size(); ++i) {
        views.push_back(view_of(recs[i], files[i]));
    }
    if (keep) {
        *keep = std::move(recs);
    }
    return views;
}

table_format format_of(const std::string& s) {
    if (s == "csv") {
        return table_format::csv;
    }
    if (s == "json") {
        return table_format::json;
    }
    return table_format::md;
}

} // namespace

int results_main(const std::vector<std::string>& args) {
    CLI::App app{"kestrix-results: keeps, compares and draws kestrix runs", "kestrix-results"};
    app.require_subcommand(1);
    app.set_version_flag("--version", std::string("kestrix-results ") + kestrix::version_text);

    std::string out_dir = "kestrix-results", label, kestrix, format = "md", html_out;
    bool no_host = false;
    std::vector<std::string> kargs, files;

    auto* run =
        app.add_subcommand("run", "run kestrix and keep its record (kestrix options after --)");
    run->add_option("--out", out_dir, "folder for the record (default ./kestrix-results)");
    run->add_option("--label", label, "a name for this record");
    run->add_flag("--no-host", no_host, "leave the host name out of the record");
    run->add_option("--kestrix", kestrix,
                    "the kestrix binary (default: the one beside this program)");
    run->add_option("kestrix-options", kargs, "options passed to kestrix");
    run->positionals_at_end(false);

    auto* imp = app.add_subcommand("import", "make records from saved kestrix console logs");
    imp->add_option("--out", out_dir, "folder for the records (default ./kestrix-results)");
    imp->add_option("--label", label, "a name for these records");
    imp->add_option("LOG", files, "saved console output of kestrix")->required();

    auto* show = app.add_subcommand("show", "per-point statistics of each record");
    show->add_option("FILE", files, "records")->required();
    show->add_option("--format", format, "md (default), csv or json")
        ->check(CLI::IsMember({"md", "csv", "json"}));

    auto* cmp = app.add_subcommand("compare", "records side by side against the first");
    cmp->add_option("FILE", files, "records")->required();
    cmp->add_option("--format", format, "md (default), csv or json")
        ->check(CLI::IsMember({"md", "csv", "json"}));

    auto* rep = app.add_subcommand("report", "one self-contained HTML page with charts");
    rep->add_option("FILE", files, "records")->required();
    rep->add_option("-o,--output", html_out, "the HTML file to write")->required();

    std::vector<std::string> reversed(args.rbegin(), args.rend());
    try {
        app.parse(reversed);
    } catch (const CLI::CallForHelp&) {
        std::cout << app.help();
        return 0;
    } catch (const CLI::CallForAllHelp&) {
        std::cout << app.help("", CLI::AppFormatMode::All);
        return 0;
    } catch (const CLI::CallForVersion&) {
        std::cout << "kestrix-results " << kestrix::version_text << "\n";
        return 0;
    } catch (const CLI::ParseError& e) {
        say(std::string(e.what()) + " (see kestrix-results --help)");
        return 2;
    }

    try {
        if (run->parsed()) {
            return cmd_run(out_dir, label, no_host, kestrix, kargs);
        }
        if (imp->parsed()) {
            return cmd_import(out_dir, label, files);
        }
        if (show->parsed() || cmp->parsed()) {
            const auto views = load_views(files, nullptr);
            const std::string text = show->parsed() ? format_show(views, format_of(format))
                                                    : format_compare(views, format_of(format));
            std::fwrite(text.data(), 1, text.size(), stdout);
            return 0;
        }
        if (rep->parsed()) {
            std::vector<json> recs;
            const auto views = load_views(files, &recs);
            write_file_atomic(html_out, html_report(recs, views, utc_now()));
            say("report written to " + html_out);
            return 0;
        }
    } catch (const input_error& e) {
        say(e.what());
        return 2;
    } catch (const std::exception& e) {
        say(e.what());
        return 2;
    }
    return 2;
}

} // namespace kestrix::results
