#include "driver/entry.hpp"

#include "console/animation.hpp"
#include "console/log_text.hpp"
#include "console/output.hpp"
#include "driver/config.hpp"
#include "driver/harness.hpp"
#include "driver/interrupt.hpp"
#include "driver/run_types.hpp"
#include "options/table.hpp"
#include "platform/isa.hpp"
#include "platform/timer.hpp"
#include "platform/topology.hpp"
#include "solver/solver.hpp"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <limits>

#include <fmt/format.h>

namespace kestrix {

entry_decision decide_mode(command_line& cl, int argc, const char* const* argv) {
    option_decision o = decide_options(cl, argc, argv);
    entry_decision d;
    d.mode = o.mode;
    d.exit_code = o.exit_code;
    d.failure = std::move(o.failure);
    if (o.run) {
        d.request = to_run_request(*o.run);
    }
    d.harness = std::move(o.harness);
    return d;
}

namespace {

int dispatch(int argc, char** argv) {
    command_line cl;
    topology_cache topology;
    const entry_decision decision = decide_mode(cl, argc, argv);
    if (decision.failure) {
        write_line(stream::err, *decision.failure);
        return decision.exit_code;
    }
    switch (decision.mode) {
    case program_mode::animation:
        run_animation();
        break;
    case program_mode::help:
        print_help(cl.table);
        break;
    case program_mode::topology:
        print_topology(get_topology(topology));
        break;
    case program_mode::timer_report:
        print_timer_report();
        break;
    case program_mode::benchmark:
        begin_interruptible();
        if (decision.harness) {
            const run_env env = real_run_env(topology);
            run_harness(*decision.harness, decision.request, env);
        } else {
            write_line(stream::err,
                       std::string(log_text::harness_unknown_var) + cl.harness.variable);
        }
        end_interruptible(); // an interrupted run ends here
        write_line(stream::out, log_text::press_enter);
        std::getchar();
        break;
    case program_mode::none:
        break;
    }
    return decision.exit_code;
}

} // namespace

int program_main(int argc, char** argv) {
    try {
        console_init();
        return dispatch(argc, argv);
    } catch (const std::exception& e) {
        std::fflush(stdout);
        std::fprintf(stderr, "kestrix: unexpected error: %s\n", e.what());
    } catch (...) {
        std::fflush(stdout);
        std::fputs("kestrix: unexpected error\n", stderr);
    }
    return 1;
}

} // namespace kestrix
