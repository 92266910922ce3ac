// kestrix-results: turns kestrix runs into records, compares them and draws them.
#include "cli/commands.hpp"

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    try {
        return kestrix::results::results_main(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "kestrix-results: %s\n", e.what());
    } catch (...) {
        std::fprintf(stderr, "kestrix-results: unexpected failure\n");
    }
    return 2;
}
