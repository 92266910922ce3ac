#include "driver/interrupt.hpp"

#include "console/log_text.hpp"
#include "console/output.hpp"
#include "platform/interrupt.hpp"

#include <atomic>

namespace kestrix {

namespace {

std::atomic<bool> reported{false};

} // namespace

bool interrupt_noticed() {
    if (interrupt_received() == 0) {
        return false;
    }
    if (!reported.exchange(true)) {
        write_line(stream::err, "interrupted" + std::string(log_text::aborting));
    }
    return true;
}

bool stop_or_interrupt(std::stop_source& stop) {
    if (!stop.stop_requested() && interrupt_noticed()) {
        stop.request_stop();
    }
    return stop.stop_requested();
}

void begin_interruptible() {
    os::install_interrupt_handlers();
}

void end_interruptible() {
    os::remove_interrupt_handlers();
    if (const int number = interrupt_received(); number != 0) {
        interrupt_noticed(); // an interrupt during the table is still reported
        os::end_as_interrupted(number);
    }
}

} // namespace kestrix
