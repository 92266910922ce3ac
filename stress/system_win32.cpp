#include "stress/system.hpp"

#include <cstdio>
#include <io.h>
#include <windows.h>

namespace kestrix::stress {

std::string host_name() {
    char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = sizeof name;
    if (!GetComputerNameA(name, &size)) {
        return {};
    }
    return std::string(name, size);
}

bool output_is_terminal() {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}

// Ctrl+C (event 0, recorded as 1) as the shells count SIGINT; every other event as SIGTERM.
int interrupted_exit_code(int number) {
    return number == 1 ? 130 : 143;
}

} // namespace kestrix::stress
