#pragma once
// The interrupt flag: set by the handlers of Ctrl-C and termination requests, read by the run.
// The handlers do nothing else (the second interrupt aside, which ends the process at once).
namespace kestrix {

// The first interrupt's number (Linux: the signal; Windows: the console event + 1); 0 none.
int interrupt_received() noexcept;

// What a handler does: records the first interrupt and answers false; answers true when one
// came before, so that the handler ends the process. Safe in signal context.
bool record_interrupt(int number) noexcept;

namespace os {

// From here on an interrupt is recorded instead of ending the process.
void install_interrupt_handlers();
// The system's own handling again.
void remove_interrupt_handlers();
// Ends the process as one ended by interrupt number would (Linux: the signal's default action,
// so the shell sees 128 + the signal; Windows: STATUS_CONTROL_C_EXIT). Flushes the output first.
[[noreturn]] void end_as_interrupted(int number);

} // namespace os
} // namespace kestrix
