#include "support/run_binary.hpp"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#ifdef _WIN32
#include <process.h>
#else
#include <csignal>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace kestrix::test {
namespace {

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void write_file(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

#ifdef _WIN32
// cmd.exe quoting: double quotes, inner quotes doubled up with backslashes.
std::string quote(const std::string& a) {
    std::string q = "\"";
    for (char c : a) {
        if (c == '"') {
            q += "\\\"";
        } else {
            q += c;
        }
    }
    return q + "\"";
}
std::string native_path(std::string p) {
    if (!p.empty() && p[0] == '/') {
        p = "Z:" + p; // Wine maps the host root to Z:
    }
    for (char& c : p) {
        if (c == '/') {
            c = '\\';
        }
    }
    return p;
}
#else
std::string quote(const std::string& a) {
    std::string q = "'";
    for (char c : a) {
        if (c == '\'') {
            q += "'\\''";
        } else {
            q += c;
        }
    }
    return q + "'";
}
std::string native_path(std::string p) {
    return p;
}
#endif

std::string temp_base() {
    static int counter = 0;
    const char* dir = std::getenv("TMPDIR");
#ifdef _WIN32
    if (!dir) {
        dir = std::getenv("TEMP");
    }
    std::string base = dir ? dir : ".";
    // Test programs run in parallel: the process id keeps their files apart.
    return base + "\\kx_e2e_" + std::to_string(::_getpid()) + "_" + std::to_string(counter++);
#else
    std::string base = dir ? dir : "/tmp";
    return base + "/kx_e2e_" + std::to_string(::getpid()) + "_" + std::to_string(counter++);
#endif
}

#ifndef _WIN32
// A wait status as the result records it.
void decode_status(int status, process_result& r) {
    if (WIFEXITED(status)) {
        r.exit_code = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        r.signaled = true;
        r.exit_code = WTERMSIG(status);
    }
}
#endif

} // namespace

std::string kestrix_path() {
    return native_path(KX_BINARY_PATH);
}

process_result run_kestrix(const std::vector<std::string>& args, const run_options& opt) {
    const std::string base = temp_base();
    const std::string in_path = base + ".in", out_path = base + ".out", err_path = base + ".err";
    write_file(in_path, opt.stdin_text);

    std::string cmd = quote(kestrix_path());
    for (const auto& a : args) {
        cmd += ' ';
        cmd += quote(a);
    }
    if (opt.stdin_closed) {
#ifdef _WIN32
        cmd += " 0<&-";
#else
        cmd += " <&-";
#endif
    } else {
        cmd += " < " + quote(in_path);
    }
    cmd += " > " + quote(out_path) + " 2> " + quote(err_path);
#ifdef _WIN32
    // cmd /c strips one pair of outer quotes from the whole line.
    cmd = "\"" + cmd + "\"";
#endif
    std::fflush(nullptr);
    const int status = std::system(cmd.c_str());

    process_result r;
#ifdef _WIN32
    r.exit_code = status;
#else
    decode_status(status, r);
    // sh reports a child killed by a signal as 128 + signal.
    if (!r.signaled && r.exit_code > 128 && r.exit_code < 128 + 65) {
        r.signaled = true;
        r.exit_code -= 128;
    }
#endif
    r.out = read_file(out_path);
    r.err = read_file(err_path);
    std::remove(in_path.c_str());
    std::remove(out_path.c_str());
    std::remove(err_path.c_str());
    return r;
}

#ifndef _WIN32
started_kestrix::started_kestrix(const std::vector<std::string>& args, const spawn_options& opt) {
    const std::string base = temp_base();
    out_path_ = base + ".out";
    err_path_ = base + ".err";
    std::vector<std::string> words = opt.prefix;
    words.push_back(kestrix_path());
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& w : words) {
        argv.push_back(w.data());
    }
    argv.push_back(nullptr);
    std::fflush(nullptr);
    pid_ = fork();
    if (pid_ != 0) {
        return;
    }
    // The child: only system calls from here to exec.
    if (!opt.cgroup_procs.empty()) {
        const int fd = open(opt.cgroup_procs.c_str(), O_WRONLY);
        const std::string self = std::to_string(getpid());
        if (fd < 0 || write(fd, self.data(), self.size()) != static_cast<ssize_t>(self.size())) {
            _exit(126);
        }
        close(fd);
    }
    const int in = open("/dev/null", O_RDONLY);
    const int out = open(out_path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = open(err_path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || err < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) {
        _exit(126);
    }
    execvp(argv[0], argv.data());
    _exit(127);
}

started_kestrix::~started_kestrix() {
    if (pid_ > 0 && !reaped_) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status_, 0);
    }
    std::remove(out_path_.c_str());
    std::remove(err_path_.c_str());
}

bool started_kestrix::running() {
    if (pid_ <= 0 || reaped_) {
        return false;
    }
    if (waitpid(pid_, &status_, WNOHANG) == pid_) {
        reaped_ = true;
    }
    return !reaped_;
}

std::string started_kestrix::out_so_far() const {
    return read_file(out_path_);
}

process_result started_kestrix::finish() {
    if (pid_ > 0 && !reaped_ && waitpid(pid_, &status_, 0) == pid_) {
        reaped_ = true;
    }
    process_result r;
    if (reaped_) {
        decode_status(status_, r);
    }
    r.out = read_file(out_path_);
    r.err = read_file(err_path_);
    return r;
}
#endif

} // namespace kestrix::test
