#include "capture/log_reader.hpp"

#include "console/log_text.hpp"

#include <charconv>
#include <cmath>

namespace kestrix::results {
namespace {

namespace lt = kestrix::log_text;

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

// A line's kind and the pieces its handler needs (views into the line).
struct classified {
    line_kind kind = line_kind::other;
    std::string_view a, b, c;
    std::uint64_t n1 = 0, n2 = 0;
    std::int64_t i1 = 0;
};

bool all_digits(std::string_view s) {
    if (s.empty()) {
        return false;
    }
    for (char ch : s) {
        if (ch < '0' || ch > '9') {
            return false;
        }
    }
    return true;
}

std::optional<std::uint64_t> to_u64(std::string_view s) {
    std::uint64_t v = 0;
    const auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (s.empty() || ec != std::errc() || p != s.data() + s.size()) {
        return std::nullopt;
    }
    return v;
}

std::optional<std::int64_t> to_i64(std::string_view s) {
    std::int64_t v = 0;
    const auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (s.empty() || ec != std::errc() || p != s.data() + s.size()) {
        return std::nullopt;
    }
    return v;
}

// A number as kestrix prints it; "---", "nan", "inf" and anything else that is not a finite
// number is unknown (a record's JSON has no other numbers).
std::optional<double> to_number(std::string_view s) {
    double v = 0;
    const auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (s.empty() || ec != std::errc() || p != s.data() + s.size() || !std::isfinite(v)) {
        return std::nullopt;
    }
    return v;
}

std::optional<double> to_percent(std::string_view s) {
    if (!s.empty() && s.back() == '%') {
        s.remove_suffix(1);
    }
    return to_number(s);
}

// Calls f for each run of non-blank characters.
template <class F> void for_each_word(std::string_view s, F&& f) {
    std::size_t i = 0;
    while (i < s.size()) {
        while (i < s.size() && s[i] == ' ') {
            ++i;
        }
        const std::size_t start = i;
        while (i < s.size() && s[i] != ' ') {
            ++i;
        }
        if (i > start) {
            f(s.substr(start, i - start));
        }
    }
}

std::vector<std::string> words(std::string_view s) {
    std::vector<std::string> out;
    for_each_word(s, [&](std::string_view w) { out.emplace_back(w); });
    return out;
}

std::string_view trim_left(std::string_view s) {
    while (!s.empty() && s.front() == ' ') {
        s.remove_prefix(1);
    }
    return s;
}

std::string_view trim(std::string_view s) {
    s = trim_left(s);
    while (!s.empty() && s.back() == ' ') {
        s.remove_suffix(1);
    }
    return s;
}

bool between(std::string_view l, std::string_view head, std::string_view tail,
             std::string_view& mid) {
    if (l.size() < head.size() + tail.size() || !l.starts_with(head) || !l.ends_with(tail)) {
        return false;
    }
    mid = l.substr(head.size(), l.size() - head.size() - tail.size());
    return true;
}

// "N x N x N grid"
bool grid_line(std::string_view l, classified& c) {
    std::string_view body;
    if (!between(l, "", lt::grid, body)) {
        return false;
    }
    int n = 0;
    bool ok = true;
    for_each_word(body, [&](std::string_view w) {
        ok = ok && (n % 2 == 0 ? all_digits(w) : w == "x");
        if (n == 0) {
            c.a = w;
        }
        ++n;
    });
    if (!ok || n != 5) {
        return false;
    }
    const auto v = to_u64(c.a);
    if (!v) {
        return false;
    }
    c.n1 = *v;
    return true;
}

// "running with N thread(s) (placement)"
bool running_line(std::string_view l, classified& c) {
    std::string_view rest;
    if (!between(l, lt::running_with, ")", rest)) {
        return false;
    }
    const auto space = rest.find(' ');
    if (space == std::string_view::npos) {
        return false;
    }
    const auto n = to_u64(rest.substr(0, space));
    rest.remove_prefix(space + 1);
    std::string_view placement;
    if (!n ||
        !(between(rest, "thread (", "", placement) || between(rest, "threads (", "", placement))) {
        return false;
    }
    c.n1 = *n;
    c.a = placement;
    return true;
}

// "e/ds <rate> MGups  n iterations"
bool progress_line_of(std::string_view l, classified& c) {
    std::string_view rest;
    if (!between(l, lt::progress, lt::iterations, rest)) {
        return false;
    }
    const auto slash = rest.find('/');
    const auto s = rest.find("s ");
    if (slash == std::string_view::npos || s == std::string_view::npos || s < slash) {
        return false;
    }
    const auto elapsed = to_i64(rest.substr(0, slash));
    const auto duration = to_u64(rest.substr(slash + 1, s - slash - 1));
    rest = trim_left(rest.substr(s + 2));
    const auto m = rest.find(lt::mgups);
    if (!elapsed || !duration || m == std::string_view::npos) {
        return false;
    }
    const std::string_view rate = rest.substr(0, m);
    rest.remove_prefix(m + lt::mgups.size());
    const auto iters = to_u64(trim_left(rest));
    if (!iters || rate.empty() || rate.find(' ') != std::string_view::npos) {
        return false;
    }
    c.i1 = *elapsed;
    c.n1 = *duration;
    c.a = rate;
    c.n2 = *iters;
    return true;
}

// " label | s1 s2 ... | avg | spread": the label before the first bar, the averages after the
// last two.
bool results_row_of(std::string_view l, classified& c) {
    if (l.empty() || l.front() != ' ') {
        return false;
    }
    const auto first = l.find('|');
    const auto last = l.rfind('|');
    if (first == std::string_view::npos || last == first) {
        return false;
    }
    const auto second_last = l.rfind('|', last - 1);
    if (second_last == first) {
        return false;
    }
    c.a = trim(l.substr(0, first));
    c.b = l.substr(first + 1, second_last - first - 1);
    const std::string_view avg = trim(l.substr(second_last + 1, last - second_last - 1));
    const std::string_view spread = trim(l.substr(last + 1));
    if (c.a.empty() || c.a.find(' ') != std::string_view::npos || avg.empty() ||
        avg.find(' ') != std::string_view::npos || spread.empty() ||
        spread.find(' ') != std::string_view::npos || c.b.find('|') != std::string_view::npos) {
        return false;
    }
    c.c = avg;
    c.b = c.b; // the scores, split by the handler
    c.n1 = static_cast<std::uint64_t>(spread.data() - l.data());
    c.n2 = spread.size();
    return true;
}

bool thread_row_of(std::string_view l) {
    int n = 0;
    bool ok = true;
    for_each_word(l, [&](std::string_view w) {
        switch (n++) {
        case 0:
        case 1:
        case 4:
            ok = ok && all_digits(w);
            break;
        case 2:
            ok = ok && w.size() > 1 && w.back() == 's';
            break;
        default:
            break;
        }
    });
    return ok && n == 5 && !l.empty() &&
           (l.front() == ' ' || (l.front() >= '0' && l.front() <= '9'));
}

classified classify(std::string_view l) {
    classified c;
    std::string_view mid;
    auto is = [&](line_kind k) {
        c.kind = k;
        return c;
    };
    if (l == lt::press_enter) {
        return is(line_kind::press_enter);
    }
    if (l == lt::harness_values) {
        return is(line_kind::harness_values);
    }
    if (between(l, lt::harness_estimate, "", mid) && !mid.empty()) {
        c.a = mid;
        return is(line_kind::harness_estimate);
    }
    if (between(l, lt::harness_run, "", mid)) {
        const auto slash = mid.find('/');
        if (slash != std::string_view::npos) {
            const auto k = to_u64(mid.substr(0, slash));
            const auto n = to_u64(mid.substr(slash + 1));
            if (k && n) {
                c.n1 = *k;
                c.n2 = *n;
                return is(line_kind::harness_run);
            }
        }
    }
    if (l == lt::harness) {
        return is(line_kind::harness_end);
    }
    if (between(l, lt::results_open, lt::results_close, mid) && !mid.empty()) {
        c.a = mid;
        return is(line_kind::results_title);
    }
    if (l.starts_with(' ') && l.ends_with(lt::results_spread) &&
        l.find('|') != std::string_view::npos) {
        return is(line_kind::results_header);
    }
    if (running_line(l, c)) {
        return is(line_kind::running);
    }
    if (grid_line(l, c)) {
        return is(line_kind::grid);
    }
    const bool digit_first = !l.empty() && l.front() >= '0' && l.front() <= '9';
    if (digit_first && between(l, "", lt::per_thread, mid)) {
        c.a = mid;
        return is(line_kind::per_thread);
    }
    if (digit_first && between(l, "", lt::total, mid)) {
        c.a = mid;
        return is(line_kind::total);
    }
    if (between(l, lt::fast_timer_frequency, ")", mid)) {
        const auto open = mid.rfind(" (");
        if (open != std::string_view::npos && open > 0) {
            c.a = mid.substr(0, open);
            c.b = mid.substr(open + 2);
            return is(line_kind::fast_timer);
        }
    }
    if (between(l, lt::coarse_timer_frequency, "", mid) && !mid.empty()) {
        c.a = mid;
        return is(line_kind::coarse_timer);
    }
    if (between(l, lt::allocating, "", mid) && (mid.empty() || mid == lt::large_pages)) {
        c.n1 = mid.empty() ? 0 : 1;
        return is(line_kind::allocating);
    }
    if (l == lt::initializing) {
        return is(line_kind::initializing);
    }
    if (between(l, lt::initialization_took, lt::milliseconds, mid)) {
        if (const auto ms = to_i64(mid)) {
            c.i1 = *ms;
            return is(line_kind::init_took);
        }
    }
    if (l == lt::starting) {
        return is(line_kind::starting);
    }
    if (progress_line_of(l, c)) {
        return is(line_kind::progress);
    }
    if (l == lt::validating) {
        return is(line_kind::validating);
    }
    if (const auto t = trim_left(l); t.starts_with(lt::thread_columns.front()) &&
                                     t.ends_with(lt::thread_columns.back()) &&
                                     t.find(lt::thread_columns[1]) != std::string_view::npos) {
        return is(line_kind::thread_header);
    }
    if (thread_row_of(l)) {
        return is(line_kind::thread_row);
    }
    if (!l.empty() && l.find_first_not_of('=') == std::string_view::npos) {
        return is(line_kind::rule);
    }
    if (l == lt::valid_result) {
        return is(line_kind::valid);
    }
    if (l == lt::invalid_result) {
        return is(line_kind::invalid);
    }
    if (l == lt::warning) {
        return is(line_kind::warning);
    }
    if (between(l, lt::version_banner, "", mid)) {
        int n = 0;
        for_each_word(mid, [&](std::string_view w) {
            (n == 0 ? c.a : n == 1 ? c.b : c.c) = w;
            ++n;
        });
        if (n == 3 && !mid.starts_with(' ') && mid.find("  ") == std::string_view::npos &&
            !mid.ends_with(' ')) {
            return is(line_kind::version);
        }
        c = classified{};
    }
    if (between(l, lt::final_score, lt::mgups, mid) && !mid.empty() &&
        mid.find(' ') == std::string_view::npos) {
        c.a = mid;
        return is(line_kind::final_score);
    }
    if (l.starts_with(lt::harness_unknown_var) || l.starts_with(lt::harness_no_runs) ||
        (l.starts_with(lt::harness_no_memory) && l.ends_with(lt::aborting))) {
        return is(line_kind::harness_error);
    }
    for (const auto prefix : lt::option_errors) {
        if (l.starts_with(prefix)) {
            return is(line_kind::option_error);
        }
    }
    if (between(l, lt::topo_levels, "", mid)) {
        if (const auto n = to_u64(mid)) {
            c.n1 = *n;
            return is(line_kind::topo_levels);
        }
    }
    if (between(l, lt::topo_numa, "", mid) && all_digits(mid)) {
        return is(line_kind::topo_numa);
    }
    if (between(l, lt::topo_llc, "", mid) && all_digits(mid)) {
        return is(line_kind::topo_llc);
    }
    if (between(l, lt::topo_core, "", mid)) {
        const auto sep = mid.find(lt::topo_perf_level);
        if (sep != std::string_view::npos && all_digits(mid.substr(0, sep)) &&
            all_digits(mid.substr(sep + lt::topo_perf_level.size()))) {
            return is(line_kind::topo_core);
        }
    }
    if (between(l, lt::topo_logical, "", mid)) {
        const auto sep = mid.find(lt::topo_os);
        if (sep != std::string_view::npos && all_digits(mid.substr(0, sep)) &&
            all_digits(mid.substr(sep + lt::topo_os.size()))) {
            return is(line_kind::topo_logical);
        }
    }
    if (between(l, lt::timer_fast, "", mid)) {
        c.a = mid;
        return is(line_kind::timer_fast);
    }
    if (between(l, lt::timer_coarse, "", mid)) {
        c.a = mid;
        return is(line_kind::timer_coarse);
    }
    if (between(l, lt::timer_underlying, "", mid)) {
        c.a = mid;
        return is(line_kind::timer_underlying);
    }
    if (between(l, lt::timer_report, "", mid)) {
        c.a = mid;
        return is(line_kind::timer_report);
    }
    if (l == lt::timer_compliant || l == lt::timer_not_compliant) {
        return is(line_kind::timer_verdict);
    }
    if (l == lt::usage) {
        return is(line_kind::help_usage);
    }
    if (results_row_of(l, c)) {
        return is(line_kind::results_row);
    }
    return classified{};
}

// The standard-error line that says best why a sub-run has no score.
std::string pick_reason(const std::vector<std::string>& messages) {
    const char* strong[] = {"; aborting", "failed", "could not", "disagreement", "cannot"};
    for (const char* key : strong) {
        for (const auto& m : messages) {
            if (m.find(key) != std::string::npos) {
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
    run_log read(const std::vector<std::string>& lines);

private:
    enum class state { start, run_values, sub_run, results, topology, timers, help, error };

    void start_line(const std::string& line, const classified& c);
    void sub_run_line(const std::string& line, const classified& c);
    void results_line(const std::string& line, const classified& c);
    void topology_line(const std::string& line, const classified& c);
    void timers_line(const std::string& line, const classified& c);
    void close_sub_run();
    void to_error(const std::string& line);

    state st_ = state::start;
    run_log r_;
    std::optional<sub_run> sub_; // the sub-run being read
    int sub_line_ = 0;           // lines since its marker (brand and feature list come first)
    bool in_warning_ = false;    // after a warning box: the support check's reasons
    int valid_line_ = -1;        // lines since "kestrix v..." in a valid banner
    bool header_seen_ = false;
    bool rule_seen_ = false;
    bool timer_done_ = false;
    bool timer_coarse_ = false; // the timer report's second section
};

void log_reader::close_sub_run() {
    if (!sub_) {
        return;
    }
    if (!sub_->valid) {
        sub_->score.reset();
        sub_->reason = pick_reason(sub_->messages);
    }
    r_.sub_runs.push_back(std::move(*sub_));
    sub_.reset();
}

void log_reader::to_error(const std::string& line) {
    r_.mode = run_mode::error;
    r_.diag.error = line;
    st_ = state::error;
}

void log_reader::start_line(const std::string& line, const classified& c) {
    switch (c.kind) {
    case line_kind::harness_values:
        r_.mode = run_mode::benchmark;
        r_.harness = harness_info{};
        st_ = state::run_values;
        return;
    case line_kind::topo_levels:
        r_.mode = run_mode::topology;
        r_.diag.topology = topology_report{};
        r_.diag.topology->performance_levels = c.n1;
        r_.diag.topology->lines.push_back(line);
        st_ = state::topology;
        return;
    case line_kind::timer_fast:
        r_.mode = run_mode::timers;
        r_.diag.timers = timer_report{};
        r_.diag.timers->fast.source = std::string(c.a);
        r_.diag.timers->lines.push_back(line);
        st_ = state::timers;
        return;
    case line_kind::help_usage:
        r_.mode = run_mode::help;
        r_.diag.help = std::vector<std::string>{line};
        st_ = state::help;
        return;
    case line_kind::option_error:
    case line_kind::harness_error:
        to_error(line);
        return;
    default:
        if (line.ends_with(lt::aborting)) {
            to_error(line);
        }
        return;
    }
}

void log_reader::sub_run_line(const std::string& line, const classified& c) {
    sub_run& s = *sub_;
    ++sub_line_;
    if (sub_line_ == 1 && line.empty()) {
        return; // the empty line after the marker
    }
    if (sub_line_ <= 2) {
        s.brand = line;
        return;
    }
    if (sub_line_ == 3) {
        s.features = words(line);
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
        s.threads = c.n1;
        s.threading = std::string(c.a);
        return;
    case line_kind::grid:
        s.grid = c.n1;
        return;
    case line_kind::per_thread:
        s.memory_per_thread = std::string(c.a);
        return;
    case line_kind::total:
        s.memory_total = std::string(c.a);
        return;
    case line_kind::fast_timer:
        s.fast_timer = timer_frequency{std::string(c.a), std::string(c.b)};
        return;
    case line_kind::coarse_timer:
        s.coarse_timer = timer_frequency{std::string(c.a), std::nullopt};
        return;
    case line_kind::allocating:
        s.large_pages = c.n1 != 0;
        return;
    case line_kind::init_took:
        s.initialization_ms = c.i1;
        return;
    case line_kind::progress:
        s.progress = progress_line{c.i1, c.n1, to_number(c.a), c.n2};
        s.duration = c.n1;
        return;
    case line_kind::thread_header:
        s.thread_table = std::vector<thread_row>{};
        return;
    case line_kind::thread_row:
        if (s.thread_table) {
            thread_row row;
            int n = 0;
            for_each_word(line, [&](std::string_view w) {
                switch (n++) {
                case 0:
                    row.thread = to_u64(w).value_or(0);
                    break;
                case 1:
                    row.grid_updates = to_u64(w).value_or(0);
                    break;
                case 2:
                    row.time_s = to_number(w.substr(0, w.size() - 1));
                    break;
                case 3:
                    row.mgups = to_number(w);
                    break;
                default:
                    row.iterations = to_u64(w).value_or(0);
                    break;
                }
            });
            s.thread_table->push_back(row);
            return;
        }
        break;
    case line_kind::warning:
        in_warning_ = true;
        return;
    case line_kind::version:
        r_.kestrix_version = std::string(c.a);
        s.workload = std::string(c.b);
        s.isa = std::string(c.c);
        valid_line_ = 0;
        return;
    case line_kind::final_score:
        if (valid_line_ >= 0) {
            s.score = to_number(c.a);
            s.valid = s.score.has_value();
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
    if (in_warning_ && !line.ends_with(lt::aborting)) {
        s.warnings.push_back(line);
    } else {
        in_warning_ = false;
        s.messages.push_back(line);
    }
}

void log_reader::results_line(const std::string& line, const classified& c) {
    harness_info& h = *r_.harness;
    if (c.kind == line_kind::results_title) {
        h.variable = std::string(c.a);
        h.table = std::vector<results_row>{};
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
    if (c.kind == line_kind::results_row && rule_seen_ && h.table) {
        results_row row;
        row.label = std::string(c.a);
        for_each_word(c.b, [&](std::string_view w) { row.scores.push_back(to_number(w)); });
        row.average = to_number(c.c);
        row.spread_percent = to_percent(std::string_view(line).substr(c.n1, c.n2));
        h.table->push_back(std::move(row));
    }
}

void log_reader::topology_line(const std::string& line, const classified& c) {
    topology_report& t = *r_.diag.topology;
    t.lines.push_back(line);
    switch (c.kind) {
    case line_kind::topo_numa:
        ++t.numa_nodes;
        break;
    case line_kind::topo_llc:
        ++t.last_level_caches;
        break;
    case line_kind::topo_core:
        ++t.cores;
        break;
    case line_kind::topo_logical:
        ++t.logical_processors;
        break;
    default:
        break;
    }
}

void log_reader::timers_line(const std::string& line, const classified& c) {
    timer_report& t = *r_.diag.timers;
    t.lines.push_back(line);
    timer_source_report& section = timer_coarse_ ? t.coarse : t.fast;
    std::string_view mid;
    switch (c.kind) {
    case line_kind::timer_coarse:
        timer_coarse_ = true;
        t.coarse = timer_source_report{};
        t.coarse.source = std::string(c.a);
        break;
    case line_kind::timer_underlying:
        section.underlying_frequency = std::string(c.a);
        break;
    case line_kind::timer_report:
        section.report_frequency = std::string(c.a);
        break;
    case line_kind::timer_verdict:
        t.hwbot_compliant = line == lt::timer_compliant;
        timer_done_ = true;
        break;
    default:
        if (between(line, lt::timer_tsc, "", mid)) {
            t.tsc_frequency = std::string(mid);
        } else if (between(line, lt::timer_crystal, "", mid)) {
            t.crystal_frequency = std::string(mid);
        } else if (between(line, lt::timer_invariant, "", mid)) {
            t.invariant_tsc = mid == "true";
        } else if (line.starts_with(lt::timer_family)) {
            // "detected family: 19 model: 1" (hexadecimal)
            std::vector<std::string_view> w;
            for_each_word(line, [&](std::string_view x) { w.push_back(x); });
            std::int64_t family = 0, model = 0;
            if (w.size() == 5 &&
                std::from_chars(w[2].data(), w[2].data() + w[2].size(), family, 16).ec ==
                    std::errc() &&
                std::from_chars(w[4].data(), w[4].data() + w[4].size(), model, 16).ec ==
                    std::errc()) {
                t.family = family;
                t.model = model;
            }
        } else if (line == lt::timer_intel) {
            t.vendor = "intel";
        } else if (line == lt::timer_amd) {
            t.vendor = "amd";
        } else if (line == lt::timer_unknown_vendor) {
            t.vendor = "other";
        } else if (!line.empty() && line != lt::timer_tsc_info && !t.brand) {
            t.brand = line;
        }
        break;
    }
}

run_log log_reader::read(const std::vector<std::string>& lines) {
    for (const auto& line : lines) {
        const classified c = classify(line);
        if (c.kind == line_kind::press_enter) {
            r_.press_enter_seen = true;
            continue;
        }
        switch (st_) {
        case state::start:
            start_line(line, c);
            if (st_ == state::start && !line.empty()) {
                r_.problem = "not kestrix output (it starts with \"" + line.substr(0, 60) + "\")";
                return std::move(r_);
            }
            break;
        case state::run_values:
            if (c.kind == line_kind::harness_end) {
                st_ = state::results; // no sub-runs at all
                break;
            }
            if (c.kind == line_kind::harness_estimate) {
                r_.harness->estimate = std::string(c.a);
            } else if (c.kind == line_kind::harness_run) {
                st_ = state::sub_run;
            } else if (c.kind == line_kind::harness_error) {
                to_error(line);
            } else if (r_.harness->estimate) {
                if (!line.empty()) {
                    r_.messages.push_back(line);
                }
            } else {
                r_.harness->points.push_back(line);
            }
            if (st_ != state::sub_run) {
                break;
            }
            [[fallthrough]];
        case state::sub_run:
            if (c.kind == line_kind::harness_run) {
                close_sub_run();
                harness_info& h = *r_.harness;
                const std::uint64_t k = c.n1, total = c.n2;
                const std::uint64_t points = h.points.size();
                h.total_sub_runs = total;
                if (points > 0) {
                    h.sub_runs_per_point = total / points;
                }
                const std::uint64_t per = points > 0 && total >= points ? total / points : 1;
                const std::uint64_t pi = k > 0 ? (k - 1) / per : 0;
                sub_ = sub_run{};
                sub_->index = k;
                sub_->point = pi < points ? h.points[pi] : std::string("?");
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
            results_line(line, c);
            break;
        case state::topology:
            topology_line(line, c);
            break;
        case state::timers:
            timers_line(line, c);
            break;
        case state::help:
            r_.diag.help->push_back(line);
            break;
        case state::error:
            if (!line.empty()) {
                r_.messages.push_back(line);
            }
            break;
        }
    }
    if (st_ == state::start) {
        r_.problem = "not kestrix output (no line of it is kestrix's)";
        return std::move(r_);
    }
    r_.recognized = true;
    switch (st_) {
    case state::run_values:
    case state::sub_run:
        close_sub_run();
        r_.problem = "truncated log: it ends inside sub-run " + std::to_string(r_.sub_runs.size()) +
                     ", before the results table";
        break;
    case state::results: {
        const auto& h = *r_.harness;
        const std::size_t rows = h.table ? h.table->size() : 0;
        if (rows < h.points.size()) {
            r_.problem = "truncated log: the results table has " + std::to_string(rows) + " of " +
                         std::to_string(h.points.size()) + " rows";
        } else {
            r_.complete = true;
        }
        break;
    }
    case state::timers:
        r_.complete = timer_done_;
        if (!timer_done_) {
            r_.problem = "truncated log: the timer report ends before its verdict";
        }
        break;
    default:
        r_.complete = true;
        break;
    }
    return std::move(r_);
}

} // namespace

run_log read_log(const std::vector<std::string>& lines) {
    return log_reader().read(lines);
}

run_log read_log(const std::vector<console_event>& events) {
    return read_log(console_lines(events));
}

run_log read_log(std::string_view text) {
    if (text.find('\0') != std::string_view::npos) {
        run_log r;
        r.problem = "not kestrix output (it holds binary data)";
        return r;
    }
    return read_log(console_lines(text));
}

std::optional<progress_line> progress_of(std::string_view line) {
    classified c;
    if (!progress_line_of(line, c)) {
        return std::nullopt;
    }
    return progress_line{c.i1, c.n1, to_number(c.a), c.n2};
}

std::optional<std::uint64_t> sub_run_marker_of(std::string_view line) {
    const classified c = classify(line);
    if (c.kind != line_kind::harness_run) {
        return std::nullopt;
    }
    return c.n1;
}

} // namespace kestrix::results
