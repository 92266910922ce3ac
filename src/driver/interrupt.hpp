#pragma once
// What the run does about an interrupt (Ctrl-C, SIGTERM): the current sub-run stops at its
// next step without a score, no further sub-run starts, the table of what finished is printed,
// and the process then ends as interrupted instead of waiting for enter.
#include <stop_token>

namespace kestrix {

// True once an interrupt came; whoever notices it first prints "interrupted; aborting".
bool interrupt_noticed();

// The run's stop request, raised here when an interrupt came.
bool stop_or_interrupt(std::stop_source& stop);

// Brackets the benchmark: interrupts are recorded from begin_interruptible() on; at
// end_interruptible() the system's handling comes back, and a recorded interrupt ends the
// process as interrupted.
void begin_interruptible();
void end_interruptible();

} // namespace kestrix
