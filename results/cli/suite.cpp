// The standard run: one thread and all threads, with the widest variant this processor can
// execute and with sse2, three sub-runs each, in one record.
#include "analysis/statistics.hpp"
#include "analysis/views.hpp"
#include "capture/assemble.hpp"
#include "capture/score_timeline.hpp"
#include "cli/commands.hpp"
#include "host/host.hpp"
#include "host/system.hpp"
#include "model/storage.hpp"
#include "process/child.hpp"

namespace kestrix::results {
namespace {

// Widest first; sse2 is the baseline every x86-64 processor runs.
constexpr const char* widest_first[] = {"avx10-2-512", "avx512f", "avx10-2-256", "avx512vl",
                                        "fma-apx",     "fma",     "avx2",        "avx"};

recorded_child run_kestrix(const prepared_run& p, const std::vector<std::string>& args,
                           double sample_interval_s) {
    return run_and_record(p, args, "", 1.0, sample_interval_s);
}

// kestrix's own checks decide: a short run of the variant that scores is one it can execute.
bool runs_here(const prepared_run& p, const std::string& isa, bool& interrupted) {
    const recorded_child probe =
        run_kestrix(p,
                    {"-d", "1", "-s", "64", "-n", "1", "--harness-sub-runs", "1", "--isa", isa,
                     "--strict-isa-check"},
                    0);
    interrupted = probe.child.interrupted;
    return probe.rec.valid_sub_runs() == 1;
}

std::string part_point(const suite_part& p) {
    std::string point = p.threads_option == 1 ? "1 thread, " : "all threads, ";
    point += p.isa;
    if (p.name.find("baseline") != std::string::npos) {
        point += " (baseline)";
    }
    return point;
}

} // namespace

CLI::App* setup_suite(CLI::App& app, suite_options& o) {
    auto* c = app.add_subcommand(
        "suite", "the standard run: one thread and all threads, widest variant and sse2");
    c->add_flag("--quick", o.quick, "10-second sub-runs instead of kestrix's 30");
    c->add_option("--out", o.out_dir, "folder for the record (default ./kestrix-results)");
    c->add_option("--label", o.label, "a name for this record");
    c->add_flag("--no-host", o.no_host, "leave the host name out of the record");
    c->add_option("--kestrix", o.kestrix,
                  "the kestrix binary (default: the one beside this program)");
    add_sample_interval_option(*c, o.sample_interval_s);
    return c;
}

int suite_command(const suite_options& o) {
    // The conditions are checked once, before the first kestrix starts.
    prepared_run prep = prepare_run(o.kestrix, o.out_dir, o.no_host);
    const std::string& kestrix = prep.kestrix;
    system_block& system = prep.system;
    const run_conditions& conditions = prep.conditions;
    record r;
    r.source = "run";
    r.label = o.label;
    r.mode = run_mode::suite;
    r.kestrix_path = kestrix;
    suite_info s;
    s.quick = o.quick;
    s.duration_s = o.quick ? 10 : 30;
    s.widest = "sse2";
    bool interrupted = false;
    say("finding the widest variant kestrix runs here, widest first (a refusal below is part of "
        "the search)");
    for (const char* isa : widest_first) {
        s.checked.emplace_back(isa);
        if (runs_here(prep, isa, interrupted)) {
            s.widest = isa;
            break;
        }
        if (interrupted) {
            break;
        }
    }
    if (!interrupted) {
        say("widest variant this processor executes: " + s.widest);
    }

    struct plan {
        const char* name;
        bool baseline;
        std::uint32_t threads;
    };
    const plan plans[] = {{"single", false, 1},
                          {"all", false, 0},
                          {"single_baseline", true, 1},
                          {"all_baseline", true, 0}};
    child_info worst{0, false, false};
    for (const plan& p : plans) {
        if (interrupted) {
            break;
        }
        suite_part part;
        part.name = p.name;
        part.isa = p.baseline ? "sse2" : s.widest;
        part.threads_option = p.threads;
        const std::vector<std::string> args{"-n",
                                            std::to_string(p.threads),
                                            "-d",
                                            std::to_string(s.duration_s),
                                            "--harness-sub-runs",
                                            "3",
                                            "--isa",
                                            part.isa};
        recorded_child run = run_kestrix(prep, args, o.sample_interval_s);
        interrupted = run.child.interrupted;
        part.exit_code = run.child.exit_code;
        part.threads = run.rec.options.resolved.threads;
        std::vector<double> scored;
        for (sub_run sr : run.rec.sub_runs) {
            part.scores.push_back(sr.valid ? sr.score : std::nullopt);
            if (sr.valid && sr.score) {
                scored.push_back(*sr.score);
            }
            sr.index = r.sub_runs.size() + 1;
            sr.point = part_point(part);
            r.sub_runs.push_back(std::move(sr));
        }
        if (!scored.empty()) {
            part.median = statistics::median(scored);
        }
        if (interrupted) {
            part.reason = "interrupted";
        } else if (scored.size() < run.rec.sub_runs.size() || run.rec.sub_runs.empty()) {
            part.reason = std::to_string(run.rec.sub_runs.size() - scored.size()) + " of " +
                          std::to_string(run.rec.sub_runs.size()) + " sub-runs without a score";
        }
        if (worst.exit_code == 0 || run.child.signaled) {
            worst = child_info{run.child.exit_code, run.child.signaled, run.child.interrupted};
        }
        if (p.threads == 0 && !p.baseline) {
            // The headline run's options and what it showed stand for the record's.
            r.options = run.rec.options;
            r.kestrix_version = run.rec.kestrix_version;
            r.results_build = run.rec.results_build;
            r.messages = run.rec.messages;
        }
        s.parts.push_back(std::move(part));
    }
    system.end_utc = utc_now();
    r.system = system;
    r.child = worst;
    r.options.given.reset();
    r.complete = !interrupted && s.parts.size() == 4;
    if (!r.complete) {
        r.incomplete_reason = "interrupted";
    }
    r.conditions = conditions;
    r.suite = std::move(s);
    const std::string path = write_record(o.out_dir, r);
    say(suite_headline(*r.suite));
    say("record written to " + path);
    if (interrupted) {
        say("interrupted: the record holds the parts that finished");
    }
    return exit_for(r);
}

} // namespace kestrix::results
