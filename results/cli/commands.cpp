#include "cli/commands.hpp"

#include "model/storage.hpp"

#include "kestrix/version.hpp"

#include <cstdio>
#include <iostream>

namespace kestrix::results {

void say(const std::string& line) {
    std::fflush(stdout);
    std::fprintf(stderr, "kestrix-results: %s\n", line.c_str());
}

int exit_for(const record& r) {
    if (r.mode == run_mode::error) {
        return 1;
    }
    return r.invalid_sub_runs() > 0 || !r.complete ? 1 : 0;
}

std::vector<record_view> load_views(const std::vector<std::string>& files,
                                    std::vector<record>* keep) {
    std::vector<record> recs;
    for (const auto& f : files) {
        recs.push_back(load_record(f));
    }
    std::vector<record_view> views;
    for (std::size_t i = 0; i < files.size(); ++i) {
        views.push_back(view_of(recs[i], files[i]));
    }
    if (keep) {
        *keep = std::move(recs);
    }
    return views;
}

int results_main(const std::vector<std::string>& args) {
    CLI::App app{"kestrix-results: keeps, compares and draws kestrix runs", "kestrix-results"};
    app.require_subcommand(1);
    app.set_version_flag("--version", std::string("kestrix-results ") + kestrix::version_text);

    run_options run;
    import_options imp;
    table_options show, cmp;
    report_options rep;
    suite_options sui;
    fleet_options flt;
    CLI::App* run_cmd = setup_run(app, run);
    CLI::App* imp_cmd = setup_import(app, imp);
    CLI::App* show_cmd = setup_show(app, show);
    CLI::App* cmp_cmd = setup_compare(app, cmp);
    CLI::App* rep_cmd = setup_report(app, rep);
    CLI::App* sui_cmd = setup_suite(app, sui);
    CLI::App* flt_cmd = setup_fleet(app, flt);

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
        if (run_cmd->parsed()) {
            return run_command(run);
        }
        if (imp_cmd->parsed()) {
            return import_command(imp);
        }
        if (show_cmd->parsed()) {
            return show_command(show);
        }
        if (cmp_cmd->parsed()) {
            return compare_command(cmp);
        }
        if (rep_cmd->parsed()) {
            return report_command(rep);
        }
        if (sui_cmd->parsed()) {
            return suite_command(sui);
        }
        if (flt_cmd->parsed()) {
            return fleet_command(flt);
        }
    } catch (const std::exception& e) {
        say(e.what());
        return 2;
    }
    return 2;
}

} // namespace kestrix::results
