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

#ifndef _WIN32
struct spawn_options {
    std::vector<std::string> prefix; // a wrapper in front of the binary, e.g. taskset -c 0
    std::string cgroup_procs;        // a cgroup.procs file the child joins before it starts
};

// The binary started in the background with standard input from /dev/null, so that a test
// can watch it (its /proc entries, its output so far) and signal it while it runs.
class started_kestrix {
public:
    explicit started_kestrix(const std::vector<std::string>& args, const spawn_options& opt = {});
    ~started_kestrix(); // kills and reaps a child that still runs
    started_kestrix(const started_kestrix&) = delete;
    started_kestrix& operator=(const started_kestrix&) = delete;

    int pid() const { return pid_; } // -1 when it could not be started
    bool running();                  // reaps it once it has ended
    std::string out_so_far() const;
    process_result finish(); // waits for the end

private:
    int pid_ = -1;
    bool reaped_ = false;
    int status_ = 0;
    std::string out_path_, err_path_;
};
#endif

} // namespace kestrix::test
