#include "stress/engine.hpp"

#include "stress/field_hash.hpp"

#include "platform/memory.hpp"
#include "solver/family_table.hpp"
#include "solver/field.hpp"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <exception>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <utility>

#include <fmt/format.h>

namespace kestrix::stress {

std::uint32_t processor_number(const logical& l) {
    return std::uint32_t{l.group} * 64 + l.os % 64;
}

const char* error_kind_name(error_kind k) {
    switch (k) {
    case error_kind::hash_mismatch:
        return "hash mismatch";
    case error_kind::disagreement:
        return "disagreement";
    case error_kind::node_check:
        return "node check";
    case error_kind::energy_ratio:
        return "energy ratio";
    case error_kind::solver:
        return "solver error";
    }
    return "error";
}

std::uint64_t checkpoint_interval(double hash_ns, double step_ns, double share) {
    if (!(hash_ns > 0.0) || !(step_ns > 0.0) || !(share > 0.0)) {
        return 1;
    }
    const double k = std::ceil(hash_ns / (share * step_ns));
    return k < 1.0 ? 1 : static_cast<std::uint64_t>(k);
}

namespace {

using clock = std::chrono::steady_clock;

double seconds_between(clock::time_point a, clock::time_point b) {
    return std::chrono::duration<double>(b - a).count();
}

std::string cpu_list_text(const std::vector<std::uint32_t>& cpus) {
    std::string text;
    for (std::size_t i = 0; i < cpus.size(); ++i) {
        text += (i == 0 ? "" : (i + 1 == cpus.size() ? " and " : ", "));
        text += fmt::format("cpu {}", cpus[i]);
    }
    return text;
}

// The solver's multi-line failure text on one line.
std::string one_line(std::string text) {
    while (!text.empty() && text.front() == '\n') {
        text.erase(text.begin());
    }
    std::string out;
    for (char c : text) {
        if (c == '\n') {
            out += ", ";
        } else {
            out += c;
        }
    }
    return out;
}

struct settled {
    std::uint64_t step = 0;
    std::vector<hash_entry> entries;
    verdict v;
    std::vector<std::uint32_t> credit; // the cores that passed this checkpoint
};

std::vector<std::uint32_t> passed(const std::vector<hash_entry>& entries, const verdict& v) {
    std::vector<std::uint32_t> out;
    for (const hash_entry& e : entries) {
        if (std::count(v.failing.begin(), v.failing.end(), e.cpu) == 0 &&
            std::count(v.disagreeing.begin(), v.disagreeing.end(), e.cpu) == 0) {
            out.push_back(e.cpu);
        }
    }
    return out;
}

// Where the workers' checkpoint hashes meet. post() answers the steps it settled.
class checkpoint_board {
public:
    virtual ~checkpoint_board() = default;
    virtual std::vector<settled> post(std::uint32_t cpu, std::uint64_t step,
                                      std::uint64_t hash) = 0;
    virtual std::vector<settled> withdraw(std::uint32_t cpu) = 0;
    // The cpu's later hashes are not compared in this slice (its fields went their own way).
    virtual void exclude(std::uint32_t cpu) = 0;
    virtual bool excluded(std::uint32_t cpu) = 0;
};

// All mode: the workers of one slice; a step is judged once every worker still running has
// reached it.
class slice_board final : public checkpoint_board {
public:
    explicit slice_board(std::vector<std::uint32_t> cpus) : running_(cpus.begin(), cpus.end()) {}

    std::vector<settled> post(std::uint32_t cpu, std::uint64_t step, std::uint64_t hash) override {
        std::lock_guard lock(mutex_);
        if (running_.count(cpu) == 0) {
            return {};
        }
        pending_[step].push_back({cpu, hash});
        return settle();
    }

    std::vector<settled> withdraw(std::uint32_t cpu) override {
        std::lock_guard lock(mutex_);
        running_.erase(cpu);
        return settle();
    }

    void exclude(std::uint32_t cpu) override {
        std::lock_guard lock(mutex_);
        drop(cpu);
    }

    bool excluded(std::uint32_t cpu) override {
        std::lock_guard lock(mutex_);
        return excluded_.count(cpu) != 0;
    }

private:
    // Steps every running worker has reached, oldest first.
    std::vector<settled> settle() {
        std::vector<settled> out;
        for (auto it = pending_.begin(); it != pending_.end();) {
            const auto& entries = it->second;
            const bool complete = std::all_of(running_.begin(), running_.end(), [&](auto cpu) {
                return std::any_of(entries.begin(), entries.end(),
                                   [&](const hash_entry& e) { return e.cpu == cpu; });
            });
            if (!complete) {
                ++it;
                continue;
            }
            if (!entries.empty()) {
                verdict v = judge(entries);
                out.push_back({it->first, entries, v, passed(entries, v)});
                for (std::uint32_t cpu : v.failing) {
                    drop(cpu);
                }
                for (std::uint32_t cpu : v.disagreeing) {
                    drop(cpu);
                }
            }
            it = pending_.erase(it);
        }
        return out;
    }

    // Its hashes of later steps are no longer compared.
    void drop(std::uint32_t cpu) {
        running_.erase(cpu);
        excluded_.insert(cpu);
        for (auto& [step, entries] : pending_) {
            std::erase_if(entries, [&](const hash_entry& e) { return e.cpu == cpu; });
        }
    }

    std::mutex mutex_;
    std::set<std::uint32_t> running_;
    std::set<std::uint32_t> excluded_;
    std::map<std::uint64_t, std::vector<hash_entry>> pending_;
};

// Cycle mode: every checkpoint of every slice, by (variant, step); each new hash is judged
// with those that earlier slices left at the same step. Cores known to have failed no
// longer vote.
class cycle_ledger final : public checkpoint_board {
public:
    void begin_slice(isa_kind variant) {
        std::lock_guard lock(mutex_);
        variant_ = variant;
        excluded_.clear();
    }

    void mark_failed(std::uint32_t cpu) {
        std::lock_guard lock(mutex_);
        failed_.insert(cpu);
    }

    std::vector<settled> post(std::uint32_t cpu, std::uint64_t step, std::uint64_t hash) override {
        std::lock_guard lock(mutex_);
        if (excluded_.count(cpu) != 0) {
            return {};
        }
        auto& entries = ledger_[{variant_, step}];
        std::erase_if(entries, [&](const hash_entry& e) { return e.cpu == cpu; });
        entries.push_back({cpu, hash});
        std::vector<hash_entry> voters;
        std::copy_if(entries.begin(), entries.end(), std::back_inserter(voters),
                     [&](const hash_entry& e) { return failed_.count(e.cpu) == 0; });
        settled s{step, voters, judge(voters), {}};
        const auto ok = passed(voters, s.v);
        if (std::count(ok.begin(), ok.end(), cpu) != 0) {
            s.credit.push_back(cpu);
        } else {
            excluded_.insert(cpu);
        }
        return {std::move(s)};
    }

    std::vector<settled> withdraw(std::uint32_t) override { return {}; }

    void exclude(std::uint32_t cpu) override {
        std::lock_guard lock(mutex_);
        excluded_.insert(cpu);
    }

    bool excluded(std::uint32_t cpu) override {
        std::lock_guard lock(mutex_);
        return excluded_.count(cpu) != 0;
    }

private:
    std::mutex mutex_;
    isa_kind variant_ = isa_kind::sse2;
    std::set<std::uint32_t> excluded_;
    std::set<std::uint32_t> failed_;
    std::map<std::pair<isa_kind, std::uint64_t>, std::vector<hash_entry>> ledger_;
};

class stress_run {
public:
    stress_run(const stress_settings& s, const stress_environment& env) : s_(s), env_(env) {
        for (const logical& l : s.processors) {
            const std::uint32_t cpu = processor_number(l);
            index_[cpu] = out_.cores.size();
            core_report r;
            r.cpu = cpu;
            out_.cores.push_back(std::move(r));
        }
    }

    stress_outcome run() {
        start_ = clock::now();
        if (s_.variants.empty() || s_.processors.empty()) {
            out_.setup_error = "nothing to test: no variant or no processor";
            return out_;
        }
        if (s_.mode == stress_mode::cycle) {
            ledger_ = std::make_unique<cycle_ledger>();
        }
        for (std::uint32_t slice = 0; !finished(); ++slice) {
            if (s_.max_slices != 0 && slice >= s_.max_slices) {
                break;
            }
            std::vector<logical> workers;
            isa_kind variant{};
            if (!plan_slice(slice, workers, variant)) {
                break;
            }
            run_slice(slice, workers, variant);
        }
        std::lock_guard lock(mutex_);
        out_.interrupted = env_.interrupted();
        out_.elapsed_s = seconds_between(start_, clock::now());
        return out_;
    }

private:
    bool finished() {
        std::lock_guard lock(mutex_);
        return stop_ || out_.setup_error || env_.interrupted() || time_over();
    }

    bool time_over() const {
        return s_.duration.count() > 0 && clock::now() - start_ >= s_.duration;
    }

    bool left_out(std::uint32_t cpu) const { return out_.cores[index_.at(cpu)].left_out; }

    // The workers and the variant of a slice; false when no core is left to test.
    bool plan_slice(std::uint32_t slice, std::vector<logical>& workers, isa_kind& variant) {
        std::lock_guard lock(mutex_);
        const std::size_t nv = s_.variants.size();
        if (s_.mode == stress_mode::all) {
            variant = s_.variants[slice % nv];
            for (const logical& l : s_.processors) {
                if (!left_out(processor_number(l))) {
                    workers.push_back(l);
                }
            }
            return !workers.empty();
        }
        // (core, variant) pairs in turn, skipping the cores left out.
        const std::size_t pairs = s_.processors.size() * nv;
        for (std::size_t i = 0; i < pairs; ++i) {
            const std::size_t p = (cycle_next_ + i) % pairs;
            const logical& l = s_.processors[p / nv];
            if (!left_out(processor_number(l))) {
                workers.push_back(l);
                variant = s_.variants[p % nv];
                cycle_next_ = p + 1;
                return true;
            }
        }
        return false;
    }

    void run_slice(std::uint32_t slice, const std::vector<logical>& workers, isa_kind variant) {
        std::vector<std::uint32_t> cpus;
        for (const logical& l : workers) {
            cpus.push_back(processor_number(l));
        }
        checkpoint_board* board = nullptr;
        std::unique_ptr<slice_board> own;
        if (ledger_) {
            ledger_->begin_slice(variant);
            board = ledger_.get();
        } else {
            own = std::make_unique<slice_board>(cpus);
            board = own.get();
        }
        clock::time_point end = clock::now() + s_.slice;
        if (s_.duration.count() > 0) {
            end = std::min(end, start_ + s_.duration);
        }
        {
            std::lock_guard lock(mutex_);
            progress_.cpus = cpus;
            progress_.variant = variant;
            progress_.slice = slice;
            for (std::uint32_t cpu : cpus) {
                auto& v = out_.cores[index_.at(cpu)].variants;
                if (std::find(v.begin(), v.end(), variant) == v.end()) {
                    v.push_back(variant);
                }
            }
        }
        running_ = workers.size();
        std::vector<std::thread> threads;
        try {
            for (const logical& l : workers) {
                threads.emplace_back([=, this] { worker(l, variant, slice, end, *board); });
            }
        } catch (const std::exception& e) {
            setup_failed(fmt::format("could not start a worker thread: {}", e.what()));
            running_ -= workers.size() - threads.size();
        }
        std::unique_lock lock(done_mutex_);
        while (running_ != 0) {
            done_.wait_for(lock, std::chrono::milliseconds(100));
            lock.unlock();
            tick();
            lock.lock();
        }
        lock.unlock();
        for (std::thread& t : threads) {
            t.join();
        }
        tick();
    }

    void tick() {
        if (!env_.tick) {
            return;
        }
        stress_progress p;
        std::vector<core_report> cores;
        {
            std::lock_guard lock(mutex_);
            p = progress_;
            cores = out_.cores;
        }
        p.elapsed_s = seconds_between(start_, clock::now());
        env_.tick(p, cores);
    }

    bool should_stop(clock::time_point end, std::uint32_t cpu, checkpoint_board& board) {
        if (stop_flag_.load(std::memory_order_relaxed) || env_.interrupted()) {
            return true;
        }
        return clock::now() >= end || board.excluded(cpu);
    }

    void worker(const logical& l, isa_kind variant, std::uint32_t slice, clock::time_point end,
                checkpoint_board& board) {
        const std::uint32_t cpu = processor_number(l);
        try {
            work(l, cpu, variant, slice, end, board);
        } catch (const std::exception& e) {
            setup_failed(fmt::format("the worker on cpu {} failed: {}", cpu, e.what()));
        }
        apply(board.withdraw(cpu), variant);
        {
            std::lock_guard lock(done_mutex_);
            --running_;
        }
        done_.notify_all();
    }

    void work(const logical& l, std::uint32_t cpu, isa_kind variant, std::uint32_t slice,
              clock::time_point end, checkpoint_board& board) {
        if (env_.pin) {
            env_.pin(l);
        }
        const bool standing = s_.workload == workload_kind::standing_wave;
        std::unique_ptr<solver> sv = make_solver(s_.workload, variant, cpu);
        if (!sv) {
            setup_failed(fmt::format("could not build the solver on cpu {}", cpu));
            return;
        }
        if (auto err = sv->allocate_fields(field_params{false, s_.size, 0.01})) {
            setup_failed(fmt::format("field allocation failed on cpu {}: {}", cpu, *err));
            return;
        }
        if (auto err = sv->init_fields()) {
            setup_failed(
                fmt::format("could not initialise the fields on cpu {}: {}", cpu, one_line(*err)));
            return;
        }
        field_grid* grid = view_solver(*sv).grid;
        if (grid == nullptr) {
            setup_failed(fmt::format("no fields to check on cpu {}", cpu));
            return;
        }
        const std::uint64_t initial = hash_fields(*grid);
        const clock::time_point t0 = clock::now();
        apply(board.post(cpu, 0, initial), variant);
        std::uint64_t steps = 0;
        bool failed = false;
        while (!should_stop(end, cpu, board)) {
            error_text err = sv->pre_step(steps);
            const bool stepped = !err && !(err = sv->step());
            if (!err) {
                err = sv->post_step(steps);
            }
            if (err) {
                const error_kind k = !stepped   ? error_kind::solver
                                     : standing ? error_kind::node_check
                                                : error_kind::energy_ratio;
                record({.kind = k,
                        .cpus = {cpu},
                        .variant = variant,
                        .step = steps + 1,
                        .message = fmt::format("cpu {}: {}", cpu, one_line(*err))},
                       true);
                failed = true;
                break;
            }
            ++steps;
            for (const fault_injection& f : s_.faults) {
                if (f.cpu == cpu && f.slice == slice && f.step == steps) {
                    flip_bit(*grid, f.bit);
                }
            }
            if (steps % s_.check_every != 0) {
                continue;
            }
            const std::uint64_t h = hash_fields(*grid);
            if (standing && h != initial) {
                board.exclude(cpu);
                record({.kind = error_kind::hash_mismatch,
                        .cpus = {cpu},
                        .variant = variant,
                        .step = steps,
                        .message = fmt::format(
                            "cpu {}: the standing wave's fields changed by step {} ({}, N={})", cpu,
                            steps, isa_names[static_cast<std::size_t>(variant)], s_.size)},
                       true);
                failed = true;
                break;
            }
            apply(board.post(cpu, steps, h), variant);
            if (s_.slice_steps != 0 && steps >= s_.slice_steps) {
                break;
            }
        }
        if (!failed && standing && !board.excluded(cpu)) {
            if (auto err = sv->validate(steps)) {
                record({.kind = error_kind::energy_ratio,
                        .cpus = {cpu},
                        .variant = variant,
                        .step = steps,
                        .message = fmt::format("cpu {}: {}", cpu, one_line(*err))},
                       true);
            }
        }
        std::lock_guard lock(mutex_);
        out_.cores[index_.at(cpu)].seconds += seconds_between(t0, clock::now());
    }

    void apply(const std::vector<settled>& done, isa_kind variant) {
        const char* isa = isa_names[static_cast<std::size_t>(variant)].data();
        const char* workload =
            s_.workload == workload_kind::standing_wave ? "standing_wave" : "soft_gaussian";
        for (const settled& st : done) {
            {
                std::lock_guard lock(mutex_);
                for (std::uint32_t cpu : st.credit) {
                    ++out_.cores[index_.at(cpu)].checkpoints;
                    ++progress_.checkpoints;
                }
            }
            const std::size_t n = st.entries.size();
            for (std::uint32_t cpu : st.v.failing) {
                if (ledger_) {
                    ledger_->mark_failed(cpu);
                }
                record({.kind = error_kind::hash_mismatch,
                        .cpus = {cpu},
                        .variant = variant,
                        .step = st.step,
                        .message = fmt::format(
                            "cpu {}: fields differ from those of the majority of {} cores at "
                            "step {} ({}, {}, N={})",
                            cpu, n, st.step, workload, isa, s_.size)},
                       true);
            }
            if (!st.v.disagreeing.empty()) {
                record({.kind = error_kind::disagreement,
                        .cpus = st.v.disagreeing,
                        .variant = variant,
                        .step = st.step,
                        .message = fmt::format("{} disagree at step {} ({}, {}, N={}) with no "
                                               "majority among {} cores",
                                               cpu_list_text(st.v.disagreeing), st.step, workload,
                                               isa, s_.size, n)},
                       false);
            }
        }
    }

    // failing: the named core is the one in error, and --keep-going leaves it out from now on.
    void record(error_event e, bool failing) {
        {
            std::lock_guard lock(mutex_);
            e.time_s = seconds_between(start_, clock::now());
            for (std::uint32_t cpu : e.cpus) {
                core_report& c = out_.cores[index_.at(cpu)];
                ++c.errors;
                if (!c.first_error) {
                    c.first_error = e;
                }
                if (failing && s_.keep_going) {
                    c.left_out = true;
                }
            }
            ++progress_.errors;
            out_.errors.push_back(e);
            if (!s_.keep_going) {
                stop_ = true;
                stop_flag_.store(true, std::memory_order_relaxed);
            }
        }
        if (env_.on_error) {
            env_.on_error(e);
        }
    }

    void setup_failed(std::string text) {
        std::lock_guard lock(mutex_);
        if (!out_.setup_error) {
            out_.setup_error = std::move(text);
        }
        stop_ = true;
        stop_flag_.store(true, std::memory_order_relaxed);
    }

    const stress_settings& s_;
    const stress_environment& env_;
    clock::time_point start_;
    std::mutex mutex_; // out_, progress_, stop_, cycle_next_
    stress_outcome out_;
    stress_progress progress_;
    std::map<std::uint32_t, std::size_t> index_;
    bool stop_ = false;
    std::atomic<bool> stop_flag_{false};
    std::size_t cycle_next_ = 0;
    std::unique_ptr<cycle_ledger> ledger_;
    std::mutex done_mutex_;
    std::condition_variable done_;
    std::size_t running_ = 0;
};

} // namespace

stress_outcome run_stress(const stress_settings& s, const stress_environment& env) {
    stress_run r(s, env);
    return r.run();
}

calibration calibrate(workload_kind workload, std::uint64_t size,
                      const std::vector<isa_kind>& variants) {
    calibration c;
    double worst = 0.0;
    for (isa_kind isa : variants) {
        std::unique_ptr<solver> sv = make_solver(workload, isa, 0);
        if (!sv) {
            c.error = "could not build the solver";
            return c;
        }
        if (auto err = sv->allocate_fields(field_params{false, size, 0.01})) {
            c.error = fmt::format("field allocation failed: {}", *err);
            return c;
        }
        if (auto err = sv->init_fields()) {
            c.error = one_line(*err);
            return c;
        }
        const field_grid* grid = view_solver(*sv).grid;
        double step_best = 0.0;
        double hash_best = 0.0;
        volatile std::uint64_t sink = 0;
        for (std::uint64_t i = 0; i < 6; ++i) {
            const auto t0 = clock::now();
            (void)sv->pre_step(i);
            (void)sv->step();
            (void)sv->post_step(i);
            const auto t1 = clock::now();
            sink = sink + hash_fields(*grid);
            const auto t2 = clock::now();
            const double st = std::chrono::duration<double, std::nano>(t1 - t0).count();
            const double ht = std::chrono::duration<double, std::nano>(t2 - t1).count();
            // The first round warms the caches and pages.
            if (i == 1 || (i > 1 && st < step_best)) {
                step_best = st;
            }
            if (i == 1 || (i > 1 && ht < hash_best)) {
                hash_best = ht;
            }
        }
        if (step_best > 0.0) {
            worst = std::max(worst, hash_best / step_best);
        }
    }
    c.hash_to_step = worst;
    c.check_every = checkpoint_interval(worst, 1.0, 0.03);
    return c;
}

} // namespace kestrix::stress
