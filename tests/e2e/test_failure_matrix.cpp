// The ways a run of the real binary can go wrong, one row each: what is asked, which stream
// says so, the exit code, and whether a score may appear. Standard output and standard error
// go to files, to a pipe whose reader is gone, or are closed; standard input is empty or closed.
#include "platform/cpu.hpp"
#include "solver/solver.hpp"
#include "support/huge_pages.hpp"
#include "support/run_binary.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <cstdio>
#include <cstdlib>

#ifdef _WIN32
#include <windows.h>
#else
#include <csignal>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace kestrix {
namespace {

enum class sink { file, closed_pipe, closed };
enum class where { out, err, either };

struct streams {
    sink out = sink::file;
    sink err = sink::file;
    bool stdin_closed = false;
};

struct result {
    int exit_code = -1;
    bool signaled = false;
    bool hung = false;
    std::string out;
    std::string err;
};

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    const std::string text = s.str();
    std::remove(path.c_str());
    return text;
}

#ifndef _WIN32
std::string temp_file() {
    const char* dir = std::getenv("TMPDIR");
    std::string path = std::string(dir ? dir : "/tmp") + "/kx_matrix_XXXXXX";
    const int fd = mkstemp(path.data());
    if (fd != -1) {
        close(fd);
    }
    return path;
}

// In the child: the stream on a file, on a pipe nobody reads, or closed.
void attach(int fd, sink s, const std::string& path) {
    if (s == sink::closed) {
        close(fd);
        return;
    }
    int target = -1;
    if (s == sink::file) {
        target = open(path.c_str(), O_WRONLY | O_TRUNC);
    } else {
        int p[2];
        if (pipe(p) == 0) {
            close(p[0]);
            target = p[1];
        }
    }
    if (target != -1 && target != fd) {
        dup2(target, fd);
        close(target);
    }
}

// Runs the binary in a child with the default SIGPIPE action (so that the program's own
// handling is what is tested); kills it and reports a hang after the time limit.
result run(const std::vector<std::string>& args, const streams& s, int limit_s) {
    const std::string out_path = temp_file(), err_path = temp_file();
    const std::string path = test::kestrix_path();
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(path.c_str()));
    for (const auto& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);

    const pid_t pid = fork();
    if (pid == 0) {
        std::signal(SIGPIPE, SIG_DFL);
        if (s.stdin_closed) {
            close(0);
        } else {
            const int null_fd = open("/dev/null", O_RDONLY);
            dup2(null_fd, 0);
            close(null_fd);
        }
        attach(1, s.out, out_path);
        attach(2, s.err, err_path);
        execv(path.c_str(), argv.data());
        _exit(127);
    }
    result r;
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(limit_s);
    while (pid > 0 && waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            r.hung = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (WIFEXITED(status)) {
        r.exit_code = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        r.signaled = !r.hung;
        r.exit_code = WTERMSIG(status);
    }
    r.out = slurp(out_path);
    r.err = slurp(err_path);
    return r;
}
long reserved_huge_pages() {
    return test::read_huge_pages();
}
#else
std::string temp_file() {
    char dir[MAX_PATH + 1] = {};
    char path[MAX_PATH + 1] = {};
    GetTempPathA(sizeof dir, dir);
    GetTempFileNameA(dir, "kxm", 0, path);
    return path;
}

// The child's end of a stream: a file, a pipe whose read end is already closed, or no handle.
HANDLE open_sink(sink s, const std::string& path) {
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    if (s == sink::file) {
        return CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa,
                           CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    if (s == sink::closed_pipe) {
        HANDLE read_end = nullptr, write_end = nullptr;
        if (CreatePipe(&read_end, &write_end, &sa, 0)) {
            CloseHandle(read_end);
            return write_end;
        }
    }
    return nullptr;
}

// The same child set-up through CreateProcess; a crash shows as an NTSTATUS exit code.
result run(const std::vector<std::string>& args, const streams& s, int limit_s) {
    const std::string out_path = temp_file(), err_path = temp_file();
    std::string cmd;
    cmd.append(1, '"').append(test::kestrix_path()).append(1, '"');
    for (const auto& a : args) {
        cmd.append(" \"").append(a).append(1, '"');
    }
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    HANDLE in = s.stdin_closed ? nullptr
                               : CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ, &sa,
                                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    HANDLE out = open_sink(s.out, out_path);
    HANDLE err = open_sink(s.err, err_path);
    STARTUPINFOA si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = in;
    si.hStdOutput = out;
    si.hStdError = err;
    PROCESS_INFORMATION pi{};
    result r;
    if (CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si,
                       &pi)) {
        if (WaitForSingleObject(pi.hProcess, static_cast<DWORD>(limit_s) * 1000) == WAIT_TIMEOUT) {
            TerminateProcess(pi.hProcess, 1);
            WaitForSingleObject(pi.hProcess, INFINITE);
            r.hung = true;
        }
        DWORD code = 0;
        GetExitCodeProcess(pi.hProcess, &code);
        r.exit_code = static_cast<int>(code);
        r.signaled = !r.hung && code >= 0xC0000000u;
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
    }
    for (HANDLE h : {in, out, err}) {
        if (h != nullptr && h != INVALID_HANDLE_VALUE) {
            CloseHandle(h);
        }
    }
    r.out = slurp(out_path);
    r.err = slurp(err_path);
    return r;
}
#endif

bool on_files(const streams& s) {
    return s.out == sink::file && s.err == sink::file && !s.stdin_closed;
}

// The first instruction set, from the newest, that this processor lacks.
std::optional<std::string> lacking_isa() {
    for (const char* isa :
         {"avx10-2-512", "avx10-2-256", "fma-apx", "avx512vl", "avx512f", "fma", "avx2", "avx"}) {
        if (check_isa_support(*parse_isa_name(isa))) {
            return std::string(isa);
        }
    }
    return std::nullopt;
}

struct row {
    std::string name;
    std::vector<std::string> args;
    streams io;
    where stream;
    std::vector<std::string> any_of; // one of them appears in that stream
    int exit_code;
    std::optional<bool> score; // "final score" printed; nothing when either is right
    std::string skip;          // why the row cannot run here
    int limit_s = 60;
};

std::vector<std::string> short_run(std::vector<std::string> extra, std::string size = "64") {
    std::vector<std::string> args = {"-d", "1", "-s", std::move(size), "--harness-sub-runs", "1"};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
}

std::vector<row> matrix() {
    const std::optional<std::string> isa = lacking_isa();
    const std::string no_isa = isa ? "" : "this processor has every instruction set";
    const std::string lacking = isa.value_or("sse2");
    const isa_kind lacking_kind = *parse_isa_name(lacking);
    const std::optional<std::string> why = check_isa_support(lacking_kind);
    const std::optional<std::string> not_runnable =
        check_variant_runnable(lacking_kind, workload_kind::standing_wave);
#ifdef _WIN32
    const std::string no_huge = "large pages need the lock-memory privilege";
#else
    const std::string no_huge = reserved_huge_pages() == 0 ? "" : "huge pages are reserved here";
#endif
    const streams files;
    const streams no_stdin{sink::file, sink::file, true};
    const streams out_gone{sink::closed_pipe, sink::file, false};
    const streams err_gone{sink::file, sink::closed_pipe, false};
    const streams both_gone{sink::closed_pipe, sink::closed_pipe, false};
    const streams out_closed{sink::closed, sink::file, false};
    const streams err_closed{sink::file, sink::closed, false};

    std::vector<row> rows = {
        {"grid larger than memory",
         short_run({"-n", "1"}, "2048"),
         files,
         where::err,
         {"field allocation failed in thread 0\n"},
         0,
         false,
         ""},
        {"large pages without reserved pages",
         short_run({"--large-pages", "-n", "1"}),
         files,
         where::err,
         {"field allocation failed in thread 0\n"},
         0,
         false,
         no_huge},
        {"thread bookkeeping beyond memory",
         short_run({"-n", "4000000000"}),
         files,
         where::err,
         {"not enough memory for the bookkeeping of 4000000000 threads; aborting\n"},
         0,
         false,
         ""},
        // One grid beyond the free memory fails in the allocation; on a larger machine the
        // hundred grids together are refused.
        {"threads times grids beyond memory",
         short_run({"-n", "100"}, "1024"),
         files,
         where::err,
         {"field allocation failed in thread ", "100 threads need more than the "},
         0,
         false,
         ""},
        {"more threads than memory allows",
         short_run({"-n", "2000"}, "256"),
         files,
         where::err,
         {"2000 threads need more than the "},
         0,
         false,
         ""},
        {"unsupported instruction set, strict",
         short_run({"-n", "1", "--isa", lacking, "--strict-isa-check"}),
         files,
         where::err,
         {"===========\n  warning  \n===========\n" + why.value_or("") +
          "isa support check failed; aborting\n"},
         0,
         false,
         no_isa},
        {"standard input closed",
         short_run({"-n", "1"}),
         no_stdin,
         where::out,
         {"press enter to exit\n"},
         0,
         true,
         ""},
        {"standard output to a closed pipe",
         short_run({"-n", "1"}),
         out_gone,
         where::err,
         {""},
         0,
         std::nullopt,
         ""},
        {"standard error to a closed pipe",
         short_run({"-n", "1", "--isa", lacking, "--strict-isa-check"}),
         err_gone,
         where::out,
         {"press enter to exit\n"},
         0,
         false,
         no_isa},
        {"both streams to closed pipes, bad option",
         {"--bogus"},
         both_gone,
         where::out,
         {""},
         1,
         std::nullopt,
         ""},
        {"standard output closed",
         short_run({"-n", "1", "--isa", lacking, "--strict-isa-check"}),
         out_closed,
         where::err,
         {"isa support check failed; aborting\n"},
         0,
         std::nullopt,
         no_isa},
        {"standard error closed, bad size",
         {"-s", "7"},
         err_closed,
         where::out,
         {""},
         1,
         false,
         ""},
        // Far more threads than cores: a valid result or the timers' verdict, never a hang.
        {"64 threads",
         {"-n", "64", "-s", "64", "-d", "2", "--harness-sub-runs", "1"},
         files,
         where::either,
         {"final score: ", "disagreement between timers for total work is larger than tolerance"},
         0,
         std::nullopt,
         ""},
        {"long sweep",
         {"--harness-var", "size", "--harness-opt", "64,128", "--harness-sub-runs", "5", "-d", "1"},
         files,
         where::out,
         {"=====size results=====\n"},
         0,
         true,
         "",
         180},
    };
    // Without the strict check the run goes on with the variant, if its code can execute here.
    if (not_runnable) {
        rows.push_back({"unsupported instruction set, lenient",
                        short_run({"-n", "1", "--isa", lacking}),
                        files,
                        where::err,
                        {"the " + lacking + " solver cannot execute on this processor"},
                        0,
                        false,
                        no_isa});
    } else {
        rows.push_back({"unsupported instruction set, lenient",
                        short_run({"-n", "1", "--isa", lacking}),
                        files,
                        where::err,
                        {"===========\n  warning  \n===========\n" + why.value_or("")},
                        0,
                        true,
                        no_isa});
    }
    return rows;
}

bool has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

std::size_t count(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++n;
    }
    return n;
}

TEST(failure_matrix, every_row_ends_as_stated) {
    for (const row& r : matrix()) {
        if (!r.skip.empty()) {
            std::printf("skipped: %s (%s)\n", r.name.c_str(), r.skip.c_str());
            continue;
        }
        const result p = run(r.args, r.io, r.limit_s);
        EXPECT_FALSE(p.hung) << r.name;
        EXPECT_FALSE(p.signaled) << r.name << ": signal " << p.exit_code;
        EXPECT_EQ(p.exit_code, r.exit_code) << r.name << "\n" << p.err;

        const std::string& text =
            r.stream == where::out ? p.out : (r.stream == where::err ? p.err : p.out + p.err);
        bool found = false;
        for (const auto& part : r.any_of) {
            found = found || has(text, part);
        }
        EXPECT_TRUE(found) << r.name << ": none of the expected texts in\n" << text;

        const bool scored = has(p.out, "final score: ");
        if (r.score && r.io.out == sink::file) {
            EXPECT_EQ(scored, *r.score) << r.name << "\n" << p.out << p.err;
        }
        // Every score follows its own valid-result banner: a run reported invalid never scores
        // (a sweep may hold both kinds of sub-run).
        if (r.io.out == sink::file) {
            EXPECT_EQ(count(p.out, "final score: "), count(p.out, "\n  valid result \n"))
                << r.name << "\n"
                << p.out;
        }
        if (r.exit_code == 1 && r.io.out == sink::file) {
            EXPECT_EQ(p.out, "") << r.name;
        }
        if (on_files(r.io) && r.exit_code == 0) {
            EXPECT_TRUE(p.out.ends_with("press enter to exit\n")) << r.name;
        }
    }
}

} // namespace
} // namespace kestrix
