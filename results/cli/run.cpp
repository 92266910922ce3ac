#include "capture/assemble.hpp"
#include "capture/score_timeline.hpp"
#include "capture/sensor_sampler.hpp"
#include "cli/commands.hpp"
#include "host/conditions.hpp"
#include "host/fs_root.hpp"
#include "host/host.hpp"
#include "host/system.hpp"
#include "model/storage.hpp"
#include "process/child.hpp"

namespace kestrix::results {

CLI::App* setup_run(CLI::App& app, run_options& o) {
    auto* c =
        app.add_subcommand("run", "run kestrix and keep its record (kestrix options after --)");
    c->add_option("--out", o.out_dir, "folder for the record (default ./kestrix-results)");
    c->add_option("--label", o.label, "a name for this record");
    c->add_flag("--no-host", o.no_host, "leave the host name out of the record");
    c->add_option("--kestrix", o.kestrix,
                  "the kestrix binary (default: the one beside this program)");
    c->add_option("--score-interval", o.score_interval_s,
                  "seconds per point of the score over time (default 1)")
        ->check(CLI::Range(0.1, 3600.0));
    add_sample_interval_option(*c, o.sample_interval_s);
    c->add_option("kestrix-options", o.kestrix_args, "options passed to kestrix");
    c->positionals_at_end(false);
    return c;
}

prepared_run prepare_run(const std::string& kestrix_option, const std::string& out_dir,
                         bool no_host) {
    prepared_run p;
    p.kestrix = kestrix_option.empty() ? default_kestrix_path() : kestrix_option;
    if (const auto problem = check_executable(p.kestrix); !problem.empty()) {
        throw input_error(problem);
    }
    // The root and the folder first: a run is not started when its record cannot be kept.
    const root_choice root = fs_root();
    if (!root.problem.empty()) {
        throw input_error(root.problem);
    }
    ensure_folder(out_dir);
    p.root = root.path;

    // The load is measured from here to kestrix's start, while the machine is described.
    const conditions_check check(root.path);
    p.system = describe_this_machine(!no_host, root.path);
    p.conditions = check.finish();
    for (const std::string& w : p.conditions.warnings()) {
        say("warning: " + w);
    }
    p.system.start_utc = utc_now();
    return p;
}

void add_sample_interval_option(CLI::App& c, double& seconds) {
    c.add_option("--sample-interval", seconds,
                 "seconds between sensor samples (default 1, at least 0.1; 0: none)")
        ->check([](const std::string& text) -> std::string {
            double v = -1;
            try {
                std::size_t used = 0;
                v = std::stod(text, &used);
                if (used != text.size()) {
                    v = -1;
                }
            } catch (const std::exception&) {
                v = -1;
            }
            if (v == 0 || (v >= min_sample_interval_s && v <= 3600)) {
                return "";
            }
            return "--sample-interval: 0, or 0.1 to 3600 seconds, not " + text;
        });
}

sampled_child run_sampled(const prepared_run& p, const std::vector<std::string>& args,
                          double sample_interval_s) {
    sampled_child out;
    if (sample_interval_s <= 0) {
        out.child = run_child(p.kestrix, args);
        return out;
    }
    const auto reader = open_system_sensors(p.root, p.conditions.hypervisor.value.value_or(false));
    out.sensors = reader->status();
    std::vector<sensor_sample> samples;
    {
        sensor_sampler sampler(*reader, sample_interval_s);
        out.child = run_child(p.kestrix, args);
        samples = sampler.stop();
    }
    out.samples.reserve(samples.size());
    for (auto& s : samples) {
        out.samples.push_back(
            {std::chrono::duration_cast<std::chrono::nanoseconds>(s.at - out.child.started).count(),
             std::move(s.reading)});
    }
    return out;
}

recorded_child run_and_record(const prepared_run& p, const std::vector<std::string>& args,
                              const std::string& label, double score_interval_s,
                              double sample_interval_s) {
    sampled_child run = run_sampled(p, args, sample_interval_s);
    system_block system = p.system;
    system.end_utc = utc_now();
    const run_log log = read_log(run.child.events);
    if (!log.recognized) {
        throw input_error(p.kestrix + " did not write kestrix output: " + log.problem);
    }
    recorded_child out{std::move(run.child), make_record(log, {"run", label, args, system})};
    attach_timelines(out.rec, out.child.events, score_interval_s);
    if (run.sensors) {
        attach_sensors(out.rec, out.child.events, *run.sensors, run.samples, sample_interval_s);
    }
    return out;
}

int run_command(const run_options& o) {
    const prepared_run p = prepare_run(o.kestrix, o.out_dir, o.no_host);
    recorded_child run =
        run_and_record(p, o.kestrix_args, o.label, o.score_interval_s, o.sample_interval_s);
    const child_result& child = run.child;
    record& r = run.rec;
    r.kestrix_path = p.kestrix;
    r.conditions = p.conditions;
    r.child = child_info{child.exit_code, child.signaled, child.interrupted};
    if (child.interrupted) {
        // kestrix ends an interrupted harness with its table, but the sub-runs after the
        // interrupt never ran.
        r.complete = false;
        r.incomplete_reason = "interrupted";
    }
    const std::string path = write_record(o.out_dir, r);
    say("record written to " + path);
    if (child.interrupted) {
        say("interrupted: the record holds the sub-runs that finished");
    }
    return exit_for(r);
}

} // namespace kestrix::results
