#include "process/child.hpp"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <stdexcept>
#include <string>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace kestrix::results {
namespace {

volatile sig_atomic_t g_child = 0;
volatile sig_atomic_t g_signal = 0;

void forward_signal(int sig) {
    g_signal = sig;
    if (g_child > 0) {
        ::kill(static_cast<pid_t>(g_child), sig);
    }
}

void write_all(int fd, const char* p, std::size_t n) {
    while (n > 0) {
        const ssize_t w = ::write(fd, p, n);
        if (w < 0 && errno == EINTR) {
            continue;
        }
        if (w <= 0) {
            return; // our own console went away: keep reading the child regardless
        }
        p += w;
        n -= static_cast<std::size_t>(w);
    }
}

} // namespace

std::string default_kestrix_path() {
    char buf[4096];
    const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) {
        return "kestrix";
    }
    std::string self(buf, static_cast<std::size_t>(n));
    const auto slash = self.rfind('/');
    return (slash == std::string::npos ? std::string(".") : self.substr(0, slash)) + "/kestrix";
}

std::string check_executable(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        return "kestrix not found at " + path;
    }
    if (!S_ISREG(st.st_mode) || ::access(path.c_str(), X_OK) != 0) {
        return path + " is not an executable file";
    }
    return {};
}

child_result run_child(const std::string& program, const std::vector<std::string>& args) {
    int out[2], err[2], in[2];
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0 ||
        ::pipe2(in, O_CLOEXEC) != 0) {
        throw std::runtime_error(std::string("cannot create pipes: ") + std::strerror(errno));
    }
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, in[0], 0);
    posix_spawn_file_actions_adddup2(&fa, out[1], 1);
    posix_spawn_file_actions_adddup2(&fa, err[1], 2);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    // Its own process group: a Ctrl+C at the terminal reaches only us, and we pass it on once.
    posix_spawnattr_setpgroup(&attr, 0);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);

    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const auto& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);

    struct sigaction sa {
    }, old_int{}, old_term{};
    sa.sa_handler = forward_signal;
    sigemptyset(&sa.sa_mask);
    ::sigaction(SIGINT, &sa, &old_int);
    ::sigaction(SIGTERM, &sa, &old_term);
    ::signal(SIGPIPE, SIG_IGN);

    pid_t pid = 0;
    const int rc = ::posix_spawn(&pid, program.c_str(), &fa, &attr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    posix_spawnattr_destroy(&attr);
    ::close(in[0]);
    ::close(out[1]);
    ::close(err[1]);
    if (rc != 0) {
        ::close(in[1]);
        ::close(out[0]);
        ::close(err[0]);
        ::sigaction(SIGINT, &old_int, nullptr);
        ::sigaction(SIGTERM, &old_term, nullptr);
        throw std::runtime_error("cannot start " + program + ": " + std::strerror(rc));
    }
    g_child = pid;
    if (g_signal != 0) {
        ::kill(pid, g_signal);
    }
    // The answer to "press enter to exit", ready before it is asked for.
    write_all(in[1], "\n", 1);
    ::close(in[1]);

    child_result r;
    event_recorder recorder;
    const auto started = std::chrono::steady_clock::now();
    r.started = started;
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    int open_count = 2;
    char buf[65536];
    while (open_count > 0) {
        const int n = ::poll(fds, 2, -1);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) {
                continue;
            }
            const ssize_t got = ::read(fds[i].fd, buf, sizeof buf);
            if (got < 0 && errno == EINTR) {
                continue;
            }
            if (got <= 0) {
                ::close(fds[i].fd);
                fds[i].fd = -1;
                --open_count;
                continue;
            }
            write_all(i == 0 ? 1 : 2, buf, static_cast<std::size_t>(got));
            recorder.feed(std::string_view(buf, static_cast<std::size_t>(got)), since(started));
        }
    }
    r.events = recorder.finish();
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    g_child = 0;
    ::sigaction(SIGINT, &old_int, nullptr);
    ::sigaction(SIGTERM, &old_term, nullptr);
    r.interrupted = g_signal != 0;
    if (WIFEXITED(status)) {
        r.exit_code = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        r.signaled = true;
        r.exit_code = WTERMSIG(status);
    }
    return r;
}

} // namespace kestrix::results
