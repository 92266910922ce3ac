#pragma once
// Runs the built binary as a child process, started directly (no shell), and collects what it
// did: exit code, a crash, a hang past the time limit, and both output streams.
#include <string>
#include <vector>

namespace kestrix::test {

struct process_result {
    int exit_code = -1;    // the program's exit code; -1 when it did not end by itself
    bool signaled = false; // crashed: ended by a signal (exit_code holds it), or on Windows
                           // exited with an NTSTATUS error code
    bool hung = false;     // still running at the time limit, then killed
    std::string out;       // everything written to standard output
    std::string err;       // everything written to standard error
};

// Where one of the child's output streams goes: a file the result is read from, a pipe whose
// read end is already closed (every write fails as on a broken pipe), or no stream at all.
enum class sink { file, closed_pipe, closed };

struct run_options {
    std::string stdin_text;    // fed to standard input, then end of input
    bool stdin_closed = false; // no standard input at all (closed descriptor, no handle)
    sink out = sink::file;
    sink err = sink::file;
    int limit_s = 300; // killed after this many seconds
};

// args exclude the program name; they reach the program byte for byte.
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
