#include "stress/system.hpp"

#include <cstdio>
#include <unistd.h>

namespace kestrix::stress {

std::string host_name() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0) {
        return {};
    }
    return name;
}

bool output_is_terminal() {
    return ::isatty(::fileno(stdout)) == 1;
}

int interrupted_exit_code(int number) {
    return 128 + number;
}

} // namespace kestrix::stress
