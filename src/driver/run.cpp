#include "driver/run.hpp"

#include "driver/evaluate.hpp"
#include "driver/interrupt.hpp"
#include "driver/run_types.hpp"

#include "console/log_text.hpp"
#include "console/output.hpp"
#include "platform/cpu.hpp"
#include "platform/memory.hpp"

#include <algorithm>
#include <limits>
#include <new>
#include <system_error>

#include <fmt/format.h>

namespace kestrix {

namespace {

// What one thread adds to the run's own storage: its progress slot, its result and its
// thread object.
constexpr std::uint64_t storage_per_thread =
    sizeof(progress_slot) + sizeof(thread_result) + sizeof(std::thread);

bool storage_fits(std::uint32_t count, std::uint64_t available) {
    // Unknown memory: let the allocation itself decide.
    return available == 0 || std::uint64_t{count} * storage_per_thread <= available;
}

bool grids_exceed(std::uint32_t count, std::uint64_t per_thread, std::uint64_t available) {
    std::uint64_t total = 0;
    return __builtin_mul_overflow(std::uint64_t{count}, per_thread, &total) || total > available;
}

} // namespace

run_env real_run_env(topology_cache& cache) {
    run_env e;
    e.make_solver = [](workload_kind workload, isa_kind isa, std::uint32_t index) {
        return make_solver(workload, isa, index);
    };
    e.probe_fast = probe_fast_timer;
    e.probe_coarse = probe_coarse_timer;
    e.fast_now = fast_timer_now;
    e.coarse_now = coarse_timer_now;
    e.hwbot_compliant = is_hwbot_compliant;
    e.isa_support = [](isa_kind isa) { return check_isa_support(isa); };
    e.variant_runnable = [](isa_kind isa, workload_kind workload) {
        return check_variant_runnable(isa, workload);
    };
    e.brand = [] { return read_cpu_brand(); };
    e.features = [] { return format_cpu_features(); };
    e.available_memory = available_physical_memory;
    e.start_thread = [](std::function<void()> body) { return std::thread(std::move(body)); };
    e.topology = [&cache]() -> const cpu_topology& { return get_topology(cache); };
    e.place = apply_placement;
    e.console = &process_console();
    return e;
}

void print_warning_box(console_sink& sink) {
    write_line(sink, stream::err, "===========");
    write_line(sink, stream::err, log_text::warning);
    write_line(sink, stream::err, "===========");
}

std::uint32_t automatic_thread_count(std::uint32_t cores, std::uint64_t available_memory,
                                     std::uint64_t size) {
    if (cores == 0) {
        return 1;
    }
    const std::uint64_t per_grid = grid_bytes(size);
    const std::uint64_t fit = per_grid == 0 ? 0 : available_memory / per_grid;
    if (fit == 0) {
        return cores;
    }
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(cores, fit));
}

std::uint32_t resolve_thread_count(const run_request& request, const run_env& env) {
    if (request.threads != 0) {
        return request.threads;
    }
    return automatic_thread_count(core_count(env.topology()), env.available_memory(), request.size);
}

run_state perform_run(const run_request& p, const threading_manager& placement, std::uint32_t count,
                      const run_env& env) {
    console_sink& sink = env.sink();
    // Why the run stops here, as the line that ends it.
    auto stop_message = [&sink](std::string_view why) {
        write_line(sink, stream::err, std::string(why) + std::string(log_text::aborting));
    };
    run_state state;
    state.count = count;

    // A thread count far beyond memory must end here with a message, not in the allocator.
    std::unique_ptr<progress_slot[]> slots;
    std::vector<std::thread> threads;
    try {
        if (!storage_fits(count, env.available_memory())) {
            throw std::bad_alloc();
        }
        state.results.reserve(count);
        threads.reserve(count - 1);
        slots = std::make_unique<progress_slot[]>(count);
    } catch (const std::bad_alloc&) {
        stop_message(fmt::format("not enough memory for the bookkeeping of {} threads", count));
        return state;
    }
    std::mutex console_lock;
    std::mutex results_lock;
    std::stop_source stop;

    write_line(sink, stream::out, env.brand());
    write_line(sink, stream::out, env.features());

    if (auto reasons = env.isa_support(p.isa)) {
        std::lock_guard lock(console_lock);
        print_warning_box(sink);
        write_text(sink, stream::err, *reasons);
        if (p.strict_isa_check) {
            stop_message("isa support check failed");
            return state;
        }
    }
    // Going on past a failed check must never execute instructions the processor lacks.
    if (auto reason = env.variant_runnable(p.isa, p.workload)) {
        stop_message(fmt::format("the {} solver cannot execute on this processor: {}",
                                 isa_name(p.isa), *reason));
        return state;
    }

    const std::uint64_t per_thread = grid_bytes(p.size);
    write_line(sink, stream::out,
               std::string(log_text::running_with) + fmt::format("{} thread{} ({})", count,
                                                                 count > 1 ? "s" : "",
                                                                 placement_name(p.placement)));
    write_line(sink, stream::out,
               fmt::format("{} x {} x {}", p.size, p.size, p.size) + std::string(log_text::grid));
    write_line(sink, stream::out, format_bytes(per_thread) + std::string(log_text::per_thread));
    write_line(sink, stream::out,
               format_bytes_times(count, per_thread) + std::string(log_text::total));

    phase_barrier barrier(static_cast<std::ptrdiff_t>(count));

    const fast_timer fast = env.probe_fast();
    const coarse_timer coarse = env.probe_coarse();
    const std::string_view source = timer_source_name(fast.source);
    write_line(sink, stream::out,
               std::string(log_text::fast_timer_frequency) +
                   fmt::format("{} ({})",
                               format_si(static_cast<std::uint64_t>(
                                             std::max<std::int64_t>(display_frequency(fast), 0)),
                                         "Hz"),
                               source));
    write_line(sink, stream::out,
               std::string(log_text::coarse_timer_frequency) +
                   format_si(static_cast<std::uint64_t>(
                                 std::max<std::int64_t>(display_frequency(coarse), 0)),
                             "Hz"));

    if (!env.hwbot_compliant(fast)) {
        if (p.bypass_timer_check) {
            print_warning_box(sink);
            write_line(sink, stream::err,
                       fmt::format("Fast timer is not compliant with HWBOT rules (fast timer "
                                   "source: {})",
                                   source));
            write_line(sink, stream::err,
                       "Check that this is a detection error in terms of your "
                       "windows version, processor, or timer before submitting");
        } else {
            stop_message(
                fmt::format("Fast Timer is not HWBOT compliant (fast timer source: {})", source));
            write_line(sink, stream::err,
                       "Use --bypass-timer-check to run regardless if you are sure that this is "
                       "a detection error in terms of your windows version, processor, or timer");
            return state;
        }
    }
    const std::int64_t window = std::int64_t{p.duration} + 2;
    if (will_overflow(fast, env.fast_now(), window)) {
        stop_message("fast timer will overflow during the run");
        return state;
    }
    if (will_overflow(coarse, static_cast<std::int64_t>(env.coarse_now()), window)) {
        stop_message("coarse timer will overflow during the run");
        return state;
    }

    // The fields are cleared as they are allocated: on a system that overcommits, grids beyond
    // the free memory would end the process in the out-of-memory killer, not in an error.
    // A single grid larger than the free memory is left to the allocation itself.
    if (const std::uint64_t available = env.available_memory();
        !p.large_pages && available != 0 && per_thread <= available &&
        grids_exceed(count, per_thread, available)) {
        stop_message(fmt::format("{} threads need more than the {} of memory available for their "
                                 "grids",
                                 count, format_bytes(available)));
        return state;
    }

    const std::span<progress_slot> progress(slots.get(), count);
    auto args_for = [&](std::uint32_t index) {
        return worker_args{.index = index,
                           .request = p,
                           .placement = placement,
                           .state = state,
                           .console = console_lock,
                           .results = results_lock,
                           .barrier = barrier,
                           .stop = stop,
                           .progress = progress,
                           .fast = fast,
                           .coarse = coarse,
                           .is_main = index == 0,
                           .env = env};
    };

    // Every worker 1 .. count-1 is started even when a started one has already failed: each
    // failing worker says so itself, and the output does not depend on how far the others got.
    // A thread that cannot be started at all ends the starting, whatever it throws.
    bool all_started = true;
    for (std::uint32_t index = 1; index < count; ++index) {
        std::optional<std::string> reason;
        try {
            threads.push_back(env.start_thread([args = args_for(index)] { worker(args); }));
        } catch (const std::exception& e) {
            reason = e.what();
        } catch (...) {
            reason = "unknown error";
        }
        if (reason) {
            std::lock_guard lock(console_lock);
            stop_message(fmt::format("could not start worker thread {}: {}", index, *reason));
            stop.request_stop();
            all_started = false;
            break;
        }
    }
    if (all_started) {
        worker(args_for(0));
    } else {
        // Worker 0 and the workers never started will not arrive: drop them, so that the
        // started ones pass the first barrier, see the stop request and end.
        const std::size_t missing = count - threads.size();
        for (std::size_t i = 0; i < missing; ++i) {
            barrier.arrive_and_drop();
        }
    }
    for (auto& t : threads) {
        t.join();
    }
    state.stopped = stop.stop_requested();
    return state;
}

std::optional<double> run_benchmark(const run_request& request, const run_env& env) {
    const std::uint32_t count = resolve_thread_count(request, env);
    threading_manager placement;
    placement.thread_count = count;
    if (request.placement != placement_policy::os) {
        placement.placement = build_placement(request.placement, env.topology());
    }
    large_page_minimum();

    run_request clamped = request;
    clamped.duration = std::clamp(request.duration, min_duration, max_duration);
    const run_state state = perform_run(clamped, placement, count, env);
    if (state.stopped && interrupt_noticed()) {
        return std::nullopt; // no banner: the interrupt said why
    }
    return evaluate_run(state, clamped, env.brand(), env.sink());
}

} // namespace kestrix
