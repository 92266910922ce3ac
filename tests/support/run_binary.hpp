#pragma once
// Runs the built kestrix binary as a child process and collects what it did.
#include <string>
#include <vector>

namespace kestrix::test {

struct process_result {
    int exit_code = -1;    // the program's exit code
    bool signaled = false; // ended by a signal (crash); exit_code then holds the signal
    std::string out;       // everything written to standard output
    std::string err;       // everything written to standard error
};

struct run_options {
    std::string stdin_text;    // fed to standard input, then end of input
    bool stdin_closed = false; // no standard input at all (closed descriptor)
};

// args exclude the program name.
process_result run_kestrix(const std::vector<std::string>& args, const run_options& opt = {});

// Path of the binary under test.
std::string kestrix_path();

} // namespace kestrix::test
