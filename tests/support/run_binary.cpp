#include "support/run_binary.hpp"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#ifdef _WIN32
#include <windows.h>
#else
#include <csignal>
#include <fcntl.h>
#include <sys/wait.h>
#include <thread>
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

// Test programs run in parallel: the process id keeps their files apart, the counter the
// runs of one program.
std::string temp_base() {
    static int counter = 0;
#ifdef _WIN32
    char dir[MAX_PATH + 1] = {};
    GetTempPathA(sizeof dir, dir); // ends in a backslash
    return std::string(dir) + "kx_e2e_" + std::to_string(GetCurrentProcessId()) + "_" +
           std::to_string(counter++);
#else
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir ? dir : "/tmp") + "/kx_e2e_" + std::to_string(::getpid()) + "_" +
           std::to_string(counter++);
#endif
}

#ifdef _WIN32
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

// One argument as the C runtime's command-line parser splits it back out: in double quotes,
// a quote escaped by a backslash, and backslashes doubled where a quote follows them.
std::string quote_arg(const std::string& a) {
    std::string q = "\"";
    std::size_t backslashes = 0;
    for (const char c : a) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        if (c == '"') {
            q.append(2 * backslashes + 1, '\\');
        } else {
            q.append(backslashes, '\\');
        }
        q += c;
        backslashes = 0;
    }
    q.append(2 * backslashes, '\\'); // before the closing quote
    return q + "\"";
}

SECURITY_ATTRIBUTES inherited{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};

// The child's end of an output stream: a file, a pipe whose read end is already closed, or no
// handle.
HANDLE open_sink(sink s, const std::string& path) {
    if (s == sink::file) {
        return CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           &inherited, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    if (s == sink::closed_pipe) {
        HANDLE read_end = nullptr, write_end = nullptr;
        if (CreatePipe(&read_end, &write_end, &inherited, 0)) {
            CloseHandle(read_end);
            return write_end;
        }
    }
    return nullptr;
}
#else
std::string native_path(std::string p) {
    return p;
}

// The child's standard streams. An empty in_path: standard input closed.
struct child_streams {
    std::string in_path;
    sink out = sink::file, err = sink::file;
    std::string out_path, err_path;
};

// In the child: descriptor fd on its file, on a pipe nobody reads, or closed.
bool attach(int fd, sink s, const char* path) {
    if (s == sink::closed) {
        close(fd);
        return true;
    }
    int target = -1;
    if (s == sink::file) {
        target = open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    } else {
        int p[2];
        if (pipe(p) == 0) {
            close(p[0]);
            target = p[1];
        }
    }
    if (target < 0) {
        return false;
    }
    if (target != fd) {
        if (dup2(target, fd) < 0) {
            return false;
        }
        close(target);
    }
    return true;
}

// Forks and starts words[0] (looked up on PATH when it has no slash) with the given streams and
// the default SIGPIPE action, so that what is tested is the program's own handling of a broken
// pipe, not what the test process inherited. The child first joins cgroup_procs if given.
// Returns the child's pid, -1 when fork failed; a child that cannot start exits 126 or 127.
pid_t spawn(std::vector<std::string> words, const child_streams& io,
            const std::string& cgroup_procs) {
    std::vector<char*> argv;
    for (auto& w : words) {
        argv.push_back(w.data());
    }
    argv.push_back(nullptr);
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid != 0) {
        return pid;
    }
    // The child: only system calls from here to exec.
    std::signal(SIGPIPE, SIG_DFL);
    if (!cgroup_procs.empty()) {
        char digits[24];
        char* first = digits + sizeof digits;
        for (pid_t n = getpid(); n > 0; n /= 10) {
            *--first = static_cast<char>('0' + n % 10);
        }
        const auto size = static_cast<ssize_t>(digits + sizeof digits - first);
        const int fd = open(cgroup_procs.c_str(), O_WRONLY);
        if (fd < 0 || write(fd, first, static_cast<std::size_t>(size)) != size) {
            _exit(126);
        }
        close(fd);
    }
    if (io.in_path.empty()) {
        close(0);
    } else {
        const int in = open(io.in_path.c_str(), O_RDONLY);
        if (in < 0 || (in != 0 && (dup2(in, 0) < 0 || close(in) != 0))) {
            _exit(126);
        }
    }
    if (!attach(1, io.out, io.out_path.c_str()) || !attach(2, io.err, io.err_path.c_str())) {
        _exit(126);
    }
    execvp(argv[0], argv.data());
    _exit(127);
}

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

#ifdef _WIN32
process_result run_kestrix(const std::vector<std::string>& args, const run_options& opt) {
    const std::string base = temp_base();
    const std::string in_path = base + ".in", out_path = base + ".out", err_path = base + ".err";
    HANDLE in = nullptr;
    if (!opt.stdin_closed) {
        write_file(in_path, opt.stdin_text);
        in = CreateFileA(in_path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                         &inherited, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    HANDLE out = open_sink(opt.out, out_path);
    HANDLE err = open_sink(opt.err, err_path);

    // The program path as the first word, in quotes, without escapes (it holds no quote).
    std::string cmd(1, '"');
    cmd.append(kestrix_path()).append(1, '"');
    for (const auto& a : args) {
        cmd += ' ';
        cmd += quote_arg(a);
    }
    STARTUPINFOA si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = in;
    si.hStdOutput = out;
    si.hStdError = err;
    PROCESS_INFORMATION pi{};
    process_result r;
    std::fflush(nullptr);
    // Wine's process start fails now and then under load with ERROR_INTERNAL_ERROR (1359);
    // a second try a moment later starts it. A real failure fails every try.
    BOOL started = FALSE;
    for (int attempt = 0; attempt < 5 && !started; ++attempt) {
        if (attempt > 0) {
            Sleep(200);
        }
        started = CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                 &si, &pi);
    }
    if (started) {
        const DWORD limit_ms = static_cast<DWORD>(opt.limit_s) * 1000;
        if (WaitForSingleObject(pi.hProcess, limit_ms) == WAIT_TIMEOUT) {
            TerminateProcess(pi.hProcess, 1);
            WaitForSingleObject(pi.hProcess, INFINITE);
            r.hung = true;
        } else {
            DWORD code = 0;
            GetExitCodeProcess(pi.hProcess, &code);
            r.exit_code = static_cast<int>(code);
            r.signaled = code >= 0xC0000000u; // an NTSTATUS error: access violation and the like
        }
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
    } else {
        r.err = "CreateProcess failed with error " + std::to_string(GetLastError()) + "\n";
    }
    for (HANDLE h : {in, out, err}) {
        if (h != nullptr && h != INVALID_HANDLE_VALUE) {
            CloseHandle(h);
        }
    }
    r.out = read_file(out_path);
    r.err += read_file(err_path);
    for (const auto& p : {in_path, out_path, err_path}) {
        std::remove(p.c_str());
    }
    return r;
}
#else
process_result run_kestrix(const std::vector<std::string>& args, const run_options& opt) {
    const std::string base = temp_base();
    const child_streams io{opt.stdin_closed ? "" : base + ".in", opt.out, opt.err, base + ".out",
                           base + ".err"};
    if (!opt.stdin_closed) {
        write_file(io.in_path, opt.stdin_text);
    }
    std::vector<std::string> words{kestrix_path()};
    words.insert(words.end(), args.begin(), args.end());
    const pid_t pid = spawn(std::move(words), io, {});

    process_result r;
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(opt.limit_s);
    while (pid > 0 && waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            r.hung = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (pid > 0 && !r.hung) {
        decode_status(status, r);
    }
    r.out = read_file(io.out_path);
    r.err = read_file(io.err_path);
    for (const auto& p : {base + ".in", io.out_path, io.err_path}) {
        std::remove(p.c_str());
    }
    return r;
}

started_kestrix::started_kestrix(const std::vector<std::string>& args, const spawn_options& opt) {
    const std::string base = temp_base();
    out_path_ = base + ".out";
    err_path_ = base + ".err";
    std::vector<std::string> words = opt.prefix;
    words.push_back(kestrix_path());
    words.insert(words.end(), args.begin(), args.end());
    pid_ = spawn(std::move(words), {"/dev/null", sink::file, sink::file, out_path_, err_path_},
                 opt.cgroup_procs);
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
