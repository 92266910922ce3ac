#include "log_parser.hpp"

#include <cstdlib>
#include <optional>
// g++ 12 with the sanitizers warns inside <regex> (-Wmaybe-uninitialized on std::function
// members of its automaton): the library's code, not ours.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <regex>
#pragma GCC diagnostic pop

namespace kestrix::results {
namespace {

using nlohmann::json;

enum class line_kind {
    harness_values,
    harness_estimate,
    harness_run,
    harness_end,
    results_title,
    results_header,
    running,
    grid,
    per_thread,
    total,
    fast_timer,
    coarse_timer,
    allocating,
    initializing,
    init_took,
    starting,
    progress,
    validating,
    thread_header,
    thread_row,
    rule,
    valid,
    invalid,
    warning,
    version,
    final_score,
    press_enter,
    harness_error,
    option_error,
    topo_levels,
    topo_numa,
    topo_llc,
    topo_core,
    topo_logical,
    timer_fast,
    timer_coarse,
    timer_underlying,
    timer_report,
    timer_verdict,
    help_usage,
    results_row,
    other,
};

struct line_pattern {
    line_kind kind;
    const char* text;
};

// The whole grammar: every line kestrix writes, as a full-line pattern. Order matters only
// where two patterns could match the same line (the more specific comes first).
const line_pattern grammar[] = {
    {line_kind::harness_values, R"(!!HARNESS!! run values:)"},
    {line_kind::harness_estimate, R"(!!HARNESS!! estimated total time = (.+))"},
    {line_kind::harness_run, R"(!!HARNESS!! run (\d+)/(\d+))"},
    {line_kind::harness_end, R"(!!HARNESS!!)"},
    {line_kind::results_title, R"(=====(.+) results=====)"},
    {line_kind::results_header, R"( (\S+) +\|((?: +run \d+)*) \| +avg \| +max/min)"},
    {line_kind::running, R"(running with (\d+) threads? \((.*)\))"},
    {line_kind::grid, R"((\d+) x \d+ x \d+ grid)"},
    {line_kind::per_thread, R"((\d[\d.]* [KMGTPE]?i?B) per thread)"},
    {line_kind::total, R"((\d[\d.]* [KMGTPE]?i?B) total)"},
    {line_kind::fast_timer, R"(Fast Timer Frequency: (.+) \((.*)\))"},
    {line_kind::coarse_timer, R"(Coarse Timer Frequency: (.+))"},
    {line_kind::allocating, R"(allocating fields\.\.\.\. (\(large pages\))?)"},
    {line_kind::initializing, R"(initalizing fields\.\.\.)"},
    {line_kind::init_took, R"(initialization took (-?\d+)ms)"},
    {line_kind::starting, R"(starting bench\.\.)"},
    {line_kind::progress, R"(benchmarking\.\.\. (-?\d+)/(\d+)s +(\S+) MGups  (\d+) iterations)"},
    {line_kind::validating, R"(validating result\.\.)"},
    {line_kind::thread_header, R"( *thread +grid updates +time +MGups +iterations)"},
    {line_kind::thread_row, R"( *(\d+) +(\d+) +(\d+\.\d+)s +(\S+) +(\d+))"},
    {line_kind::rule, R"(=+)"},
    {line_kind::valid, R"(  valid result )"},
    {line_kind::invalid, R"(  invalid result )"},
    {line_kind::warning, R"(  warning  )"},
    {line_kind::version, R"(kestrix v(\S+) (\S+) (\S+))"},
    {line_kind::final_score, R"(final score: (\S+) MGups)"},
    {line_kind::press_enter, R"(press enter to exit)"},
    {line_kind::harness_error,
     R"((unknown var .*|couldn't generate runs for harness for .*|not enough memory to plan the harness runs for .*; aborting))"},
    {line_kind::option_error,
     R"((Unrecognized token: .*|Expected argument following .*|Unable to convert '.*|Value '.*' not expected.*|Flag option '.*|Option '.*' contains value.*|Invalid size '.*|Invalid workload name '.*|Invalid isa name '.*|grid size \d+ would overflow .*))"},
    {line_kind::topo_levels, R"(perf_level_count=(\d+))"},
    {line_kind::topo_numa, R"(numa node id=(\d+))"},
    {line_kind::topo_llc, R"(\|--llc id=(\d+))"},
    {line_kind::topo_core, R"(\|  \|--core id=(\d+) perf_level=(\d+))"},
    {line_kind::topo_logical, R"(\|  \|  \|--logical idx=(\d+) os=(\d+))"},
    {line_kind::timer_fast, R"(Fast timer: (.*))"},
    {line_kind::timer_coarse, R"(Coarse timer: (.*))"},
    {line_kind::timer_underlying, R"(underlying frequency: (.*))"},
    {line_kind::timer_report, R"(report frequency: (.*))"},
    {line_kind::timer_verdict,
     R"((Fast timer is hwbot compliant|Fast timer is not compliant with HWBOT rules))"},
    {line_kind::help_usage, R"(USAGE:)"},
    {line_kind::results_row, R"( (\S+) +\|((?: +\S+)*) \| +(\S+) \| +(\S+))"},
};

struct compiled_pattern {
    line_kind kind;
    std::regex re;
};

const std::vector<compiled_pattern>& compiled() {
    static const std::vector<compiled_pattern> table = [] {
        std::vector<compiled_pattern> t;
        for (const auto& p : grammar) {
            t.push_back(
                {p.kind, std::regex(p.text, std::regex::ECMAScript | std::regex::optimize)});
        }
        return t;
    }();
    return table;
}

struct classified {
    line_kind kind = line_kind::other;
    std::vector<std::string> groups; // groups[0] is the whole line
};

classified classify(const std::string& line) {
    for (const auto& p : compiled()) {
        std::smatch m;
        if (std::regex_match(line, m, p.re)) {
            classified c{p.kind, {}};
            for (const auto& g : m) {
                c.groups.push_back(g.str());
            }
            return c;
        }
    }
    return {line_kind::other, {line}};
}

std::optional<double> number(const std::string& s) {
    if (s.empty() || s == "---") {
        return std::nullopt;
    }
    char* end = nullptr;
    const double v = std::strtod(s.c_str(), &end);
    if (end == s.c_str()) {
        return std::nullopt;
    }
    return v;
}

json number_or_null(const std::string& s) {
    const auto v = number(s);
    return v ? json(*v) : json(nullptr);
}

// "12.50%" -> 12.5
json percent_or_null(std::string s) {
    if (!s.empty() && s.back() == '%') {
        s.pop_back();
    }
    return number_or_null(s);
}

std::vector<std::string> split_words(const std::string& s) {
    std::vector<std::string> out;
    std::string cur;
    for (char c : s) {
        if (c == ' ') {
            if (!cur.empty()) {
                out.push_back(cur);
            }
            cur.clear();
        } else {
            cur += c;
        }
    }
    if (!cur.empty()) {
        out.push_back(cur);
    }
    return out;
}

bool ends_with(const std::string& s, std::string_view tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// The standard-error line that says best why a sub-run has no score.
json pick_reason(const json& messages) {
    const char* strong[] = {"; aborting", "failed", "could not", "disagreement", "cannot"};
    for (const char* key : strong) {
        for (const auto& m : messages) {
            if (m.get<std::string>().find(key) != std::string::npos) {
                return m;
            }
        }
    }
    if (!messages.empty()) {
        return messages.front();
    }
    return "no score; the log shows no reason";
}

class log_reader {
public:
    parsed_log read(const std::vector<std::string>& lines);

private:
    enum class state {
        start,
        run_values,
        sub_run,
        results,
        topology,
        timers,
        help,
        error,
    };

    void start_line(const std::string& line, const classified& c);
    void sub_run_line(const std::string& line, const classified& c);
    void results_line(const classified& c);
    void topology_line(const classified& c);
    void timers_line(const std::string& line, const classified& c);
    void close_sub_run();

    state st_ = state::start;
    json d_ = json::object();
    json sub_ = nullptr;      // the sub-run being read
    int sub_line_ = 0;        // lines since its marker (brand and feature list come first)
    bool in_warning_ = false; // after a warning box: the support check's reasons
    int valid_line_ = -1;     // lines since "kestrix v..." in a valid banner
    int rows_expected_ = 0;
    bool header_seen_ = false;
    bool rule_seen_ = false;
    bool timer_done_ = false;
    std::string timer_section_;
};

void log_reader::close_sub_run() {
    if (sub_.is_null()) {
        return;
    }
    if (!sub_["valid"].get<bool>()) {
        sub_["score"] = nullptr;
        sub_["reason"] = pick_reason(sub_["messages"]);
    }
    d_["sub_runs"].push_back(sub_);
    sub_ = nullptr;
}

void log_reader::start_line(const std::string& line, const classified& c) {
    switch (c.kind) {
    case line_kind::harness_values:
        d_["mode"] = "benchmark";
        d_["harness"] = {{"points", json::array()}};
        d_["sub_runs"] = json::array();
        st_ = state::run_values;
        return;
    case line_kind::topo_levels:
        d_["mode"] = "topology";
        d_["topology"] = {{"performance_levels", std::stoul(c.groups[1])},
                          {"numa_nodes", 0},
                          {"last_level_caches", 0},
                          {"cores", 0},
                          {"logical_processors", 0},
                          {"lines", json::array({line})}};
        st_ = state::topology;
        return;
    case line_kind::timer_fast:
        d_["mode"] = "timers";
        d_["timers"] = {{"fast", {{"source", c.groups[1]}}}, {"lines", json::array({line})}};
        timer_section_ = "fast";
        st_ = state::timers;
        return;
    case line_kind::help_usage:
        d_["mode"] = "help";
        d_["help"] = json::array({line});
        st_ = state::help;
        return;
    case line_kind::option_error:
    case line_kind::harness_error:
        d_["mode"] = "error";
        d_["error"] = line;
        st_ = state::error;
        return;
    default:
        if (ends_with(line, "; aborting")) {
            d_["mode"] = "error";
            d_["error"] = line;
            st_ = state::error;
        }
        return;
    }
}

void log_reader::sub_run_line(const std::string& line, const classified& c) {
    ++sub_line_;
    if (sub_line_ == 1 && line.empty()) {
        return; // the empty line after the marker
    }
    if (sub_line_ <= 2) {
        sub_["brand"] = line;
        return;
    }
    if (sub_line_ == 3) {
        sub_["features"] = split_words(line);
        return;
    }
    if (valid_line_ >= 0) {
        ++valid_line_;
        if (valid_line_ == 1) {
            return; // the brand again
        }
    }
    const bool known = c.kind != line_kind::other && c.kind != line_kind::results_row;
    if (known && c.kind != line_kind::rule) {
        in_warning_ = false;
    }
    switch (c.kind) {
    case line_kind::running:
        sub_["threads"] = std::stoul(c.groups[1]);
        sub_["threading"] = c.groups[2];
        return;
    case line_kind::grid:
        sub_["grid"] = std::stoull(c.groups[1]);
        return;
    case line_kind::per_thread:
        sub_["memory_per_thread"] = c.groups[1];
        return;
    case line_kind::total:
        sub_["memory_total"] = c.groups[1];
        return;
    case line_kind::fast_timer:
        sub_["timers"]["fast"] = {{"frequency", c.groups[1]}, {"source", c.groups[2]}};
        return;
    case line_kind::coarse_timer:
        sub_["timers"]["coarse"] = {{"frequency", c.groups[1]}};
        return;
    case line_kind::allocating:
        sub_["large_pages"] = !c.groups[1].empty();
        return;
    case line_kind::init_took:
        sub_["initialization_ms"] = std::stoll(c.groups[1]);
        return;
    case line_kind::progress:
        sub_["progress"] = {{"elapsed_s", std::stoll(c.groups[1])},
                            {"duration_s", std::stoull(c.groups[2])},
                            {"mgups", number_or_null(c.groups[3])},
                            {"iterations", std::stoull(c.groups[4])}};
        sub_["duration"] = std::stoull(c.groups[2]);
        return;
    case line_kind::thread_header:
        sub_["thread_table"] = json::array();
        return;
    case line_kind::thread_row:
        if (sub_.contains("thread_table")) {
            sub_["thread_table"].push_back({{"thread", std::stoul(c.groups[1])},
                                            {"grid_updates", std::stoull(c.groups[2])},
                                            {"time_s", number_or_null(c.groups[3])},
                                            {"mgups", number_or_null(c.groups[4])},
                                            {"iterations", std::stoull(c.groups[5])}});
            return;
        }
        break;
    case line_kind::warning:
        in_warning_ = true;
        return;
    case line_kind::version:
        d_["kestrix_version"] = c.groups[1];
        sub_["workload"] = c.groups[2];
        sub_["isa"] = c.groups[3];
        valid_line_ = 0;
        return;
    case line_kind::final_score:
        if (valid_line_ >= 0) {
            sub_["score"] = number_or_null(c.groups[1]);
            sub_["valid"] = !sub_["score"].is_null();
            return;
        }
        break;
    case line_kind::rule:
    case line_kind::valid:
    case line_kind::invalid:
    case line_kind::initializing:
    case line_kind::starting:
    case line_kind::validating:
        return;
    default:
        break;
    }
    if (line.empty()) {
        return;
    }
    if (in_warning_ && !ends_with(line, "; aborting")) {
        sub_["warnings"].push_back(line);
    } else {
        in_warning_ = false;
        sub_["messages"].push_back(line);
    }
}

void log_reader::results_line(const classified& c) {
    json& h = d_["harness"];
    if (c.kind == line_kind::results_title) {
        h["variable"] = c.groups[1];
        h["table"] = json::array();
        return;
    }
    if (c.kind == line_kind::results_header && !header_seen_) {
        header_seen_ = true;
        return;
    }
    if (c.kind == line_kind::rule && header_seen_ && !rule_seen_) {
        rule_seen_ = true;
        return;
    }
    if (c.kind == line_kind::results_row && rule_seen_) {
        json scores = json::array();
        for (const auto& w : split_words(c.groups[2])) {
            scores.push_back(number_or_null(w));
        }
        h["table"].push_back({{"label", c.groups[1]},
                              {"scores", scores},
                              {"average", number_or_null(c.groups[3])},
                              {"spread_percent", percent_or_null(c.groups[4])}});
    }
}

void log_reader::topology_line(const classified& c) {
    json& t = d_["topology"];
    t["lines"].push_back(c.groups[0]);
    switch (c.kind) {
    case line_kind::topo_numa:
        t["numa_nodes"] = t["numa_nodes"].get<int>() + 1;
        break;
    case line_kind::topo_llc:
        t["last_level_caches"] = t["last_level_caches"].get<int>() + 1;
        break;
    case line_kind::topo_core:
        t["cores"] = t["cores"].get<int>() + 1;
        break;
    case line_kind::topo_logical:
        t["logical_processors"] = t["logical_processors"].get<int>() + 1;
        break;
    default:
        break;
    }
}

void log_reader::timers_line(const std::string& line, const classified& c) {
    json& t = d_["timers"];
    t["lines"].push_back(line);
    switch (c.kind) {
    case line_kind::timer_coarse:
        timer_section_ = "coarse";
        t["coarse"] = json::object();
        break;
    case line_kind::timer_underlying:
        t[timer_section_]["underlying_frequency"] = c.groups[1];
        break;
    case line_kind::timer_report:
        t[timer_section_]["report_frequency"] = c.groups[1];
        break;
    case line_kind::timer_verdict:
        t["hwbot_compliant"] = c.groups[1] == "Fast timer is hwbot compliant";
        timer_done_ = true;
        break;
    default:
        if (line.rfind("tsc: ", 0) == 0) {
            t["tsc_frequency"] = line.substr(5);
        } else if (line.rfind("crystal: ", 0) == 0) {
            t["crystal_frequency"] = line.substr(9);
        } else if (line.rfind("invariant: ", 0) == 0) {
            t["invariant_tsc"] = line.substr(11) == "true";
        } else if (line.rfind("detected family: ", 0) == 0) {
            const auto w = split_words(line);
            if (w.size() == 5) {
                t["family"] = std::strtol(w[2].c_str(), nullptr, 16);
                t["model"] = std::strtol(w[4].c_str(), nullptr, 16);
            }
        } else if (line == "Intel detected" || line == "AMD detected" || line == "unknown vendor") {
            t["vendor"] = line == "Intel detected" ? "intel"
                          : line == "AMD detected" ? "amd"
                                                   : "other";
        } else if (!line.empty() && line != "tsc info:" && !t.contains("brand")) {
            t["brand"] = line;
        }
        break;
    }
}

parsed_log log_reader::read(const std::vector<std::string>& lines) {
    parsed_log r;
    d_["messages"] = json::array();
    bool press_enter = false;
    for (const auto& line : lines) {
        const classified c = classify(line);
        if (c.kind == line_kind::press_enter) {
            press_enter = true;
            continue;
        }
        switch (st_) {
        case state::start:
            start_line(line, c);
            if (st_ == state::start && !line.empty()) {
                r.problem = "not kestrix output (it starts with \"" + line.substr(0, 60) + "\")";
                return r;
            }
            break;
        case state::run_values:
            if (c.kind == line_kind::harness_end) {
                st_ = state::results; // no sub-runs at all
                break;
            }
            if (c.kind == line_kind::harness_estimate) {
                d_["harness"]["estimate"] = c.groups[1];
            } else if (c.kind == line_kind::harness_run) {
                st_ = state::sub_run;
            } else if (c.kind == line_kind::harness_error) {
                d_["mode"] = "error";
                d_["error"] = line;
                st_ = state::error;
            } else if (d_["harness"].contains("estimate")) {
                if (!line.empty()) {
                    d_["messages"].push_back(line);
                }
            } else {
                d_["harness"]["points"].push_back(line);
            }
            if (st_ != state::sub_run) {
                break;
            }
            [[fallthrough]];
        case state::sub_run:
            if (c.kind == line_kind::harness_run) {
                close_sub_run();
                const auto k = std::stoul(c.groups[1]);
                const auto total = std::stoul(c.groups[2]);
                const auto points = d_["harness"]["points"].size();
                d_["harness"]["total_sub_runs"] = total;
                if (points > 0) {
                    d_["harness"]["sub_runs_per_point"] = total / points;
                }
                const auto per = points > 0 && total >= points ? total / points : 1;
                const auto pi = (k - 1) / per;
                sub_ = {{"index", k},
                        {"point", pi < points ? d_["harness"]["points"][pi] : json("?")},
                        {"valid", false},
                        {"score", nullptr},
                        {"messages", json::array()},
                        {"warnings", json::array()},
                        {"timers", json::object()}};
                sub_line_ = 0;
                valid_line_ = -1;
                in_warning_ = false;
            } else if (c.kind == line_kind::harness_end) {
                close_sub_run();
                st_ = state::results;
            } else {
                sub_run_line(line, c);
            }
            break;
        case state::results:
            results_line(c);
            break;
        case state::topology:
            topology_line(c);
            break;
        case state::timers:
            timers_line(line, c);
            break;
        case state::help:
            d_["help"].push_back(line);
            break;
        case state::error:
            if (!line.empty()) {
                d_["messages"].push_back(line);
            }
            break;
        }
    }
    if (st_ == state::start) {
        r.problem = "not kestrix output (no line of it is kestrix's)";
        return r;
    }
    r.recognized = true;
    switch (st_) {
    case state::run_values:
    case state::sub_run:
        close_sub_run();
        r.problem = "truncated log: it ends inside sub-run " +
                    std::to_string(d_["sub_runs"].size()) + ", before the results table";
        break;
    case state::results: {
        const auto& h = d_["harness"];
        const auto rows = h.contains("table") ? h["table"].size() : 0;
        if (rows < h["points"].size()) {
            r.problem = "truncated log: the results table has " + std::to_string(rows) + " of " +
                        std::to_string(h["points"].size()) + " rows";
        } else {
            r.complete = true;
        }
        break;
    }
    case state::timers:
        r.complete = timer_done_;
        if (!timer_done_) {
            r.problem = "truncated log: the timer report ends before its verdict";
        }
        break;
    default:
        r.complete = true;
        break;
    }
    d_["press_enter_seen"] = press_enter;
    r.data = std::move(d_);
    return r;
}

} // namespace

std::vector<std::string> console_lines(std::string_view text) {
    std::vector<std::string> out;
    std::string cur;
    auto finish = [&](bool force) {
        if (!cur.empty() || force) {
            out.push_back(cur);
        }
        cur.clear();
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char ch = text[i];
        if (ch == '\n') {
            finish(true);
        } else if (ch == '\r') {
            if (i + 1 < text.size() && text[i + 1] == '\n') {
                continue; // "\r\n" ends the line
            }
            // A rewrite in place: the line so far is replaced by what follows, unless nothing
            // follows before the newline.
            std::size_t j = i + 1;
            if (j < text.size() && text[j] != '\n' && text[j] != '\r') {
                cur.clear();
            }
        } else {
            cur += ch;
        }
    }
    finish(false);
    return out;
}

parsed_log parse_log(std::string_view text) {
    if (text.find('\0') != std::string_view::npos) {
        return {false, false, "not kestrix output (it holds binary data)", nullptr};
    }
    log_reader reader;
    return reader.read(console_lines(text));
}

int count_scored(const nlohmann::json& data) {
    int n = 0;
    if (data.contains("sub_runs")) {
        for (const auto& s : data["sub_runs"]) {
            n += s["valid"].get<bool>() ? 1 : 0;
        }
    }
    return n;
}

int count_unscored(const nlohmann::json& data) {
    int n = 0;
    if (data.contains("sub_runs")) {
        for (const auto& s : data["sub_runs"]) {
            n += s["valid"].get<bool>() ? 0 : 1;
        }
    }
    return n;
}

} // namespace kestrix::results
