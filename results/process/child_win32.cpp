#include "process/child.hpp"

#include "host/utf8_win32.hpp"

#include <atomic>
#include <chrono>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>

#include <windows.h>

namespace kestrix::results {
namespace {

std::atomic<bool> g_interrupted{false};

BOOL WINAPI note_interrupt(DWORD type) {
    if (type == CTRL_C_EVENT || type == CTRL_BREAK_EVENT || type == CTRL_CLOSE_EVENT) {
        // The child shares our console and gets the same event; we only wait for it.
        g_interrupted = true;
        return TRUE;
    }
    return FALSE;
}

std::wstring wide(const std::string& s) {
    if (s.empty()) {
        return {};
    }
    const int n =
        ::MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring w(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0) {
        ::MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
    }
    return w;
}

// The quoting CommandLineToArgvW and the C runtime undo.
std::wstring quoted(const std::wstring& a) {
    if (!a.empty() && a.find_first_of(L" \t\"") == std::wstring::npos) {
        return a;
    }
    std::wstring q = L"\"";
    std::size_t backslashes = 0;
    for (wchar_t c : a) {
        if (c == L'\\') {
            ++backslashes;
        } else if (c == L'"') {
            q.append(backslashes * 2 + 1, L'\\');
            q += c;
            backslashes = 0;
        } else {
            q.append(backslashes, L'\\');
            q += c;
            backslashes = 0;
        }
    }
    q.append(backslashes * 2, L'\\');
    return q + L"\"";
}

} // namespace

std::string default_kestrix_path() {
    wchar_t buf[MAX_PATH * 4];
    const DWORD n = ::GetModuleFileNameW(nullptr, buf, MAX_PATH * 4);
    std::wstring self(buf, n);
    const auto slash = self.find_last_of(L"\\/");
    return utf8(slash == std::wstring::npos ? std::wstring(L".") : self.substr(0, slash)) +
           "\\kestrix.exe";
}

std::string check_executable(const std::string& path) {
    const DWORD a = ::GetFileAttributesW(wide(path).c_str());
    if (a == INVALID_FILE_ATTRIBUTES) {
        return "kestrix not found at " + path;
    }
    if (a & FILE_ATTRIBUTE_DIRECTORY) {
        return path + " is not an executable file";
    }
    return {};
}

child_result run_child(const std::string& program, const std::vector<std::string>& args) {
    SECURITY_ATTRIBUTES sa{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE out_r = nullptr, out_w = nullptr, err_r = nullptr, err_w = nullptr, in_r = nullptr,
           in_w = nullptr;
    if (!::CreatePipe(&out_r, &out_w, &sa, 0) || !::CreatePipe(&err_r, &err_w, &sa, 0) ||
        !::CreatePipe(&in_r, &in_w, &sa, 0)) {
        throw std::runtime_error("cannot create pipes");
    }
    // Our ends stay ours.
    ::SetHandleInformation(out_r, HANDLE_FLAG_INHERIT, 0);
    ::SetHandleInformation(err_r, HANDLE_FLAG_INHERIT, 0);
    ::SetHandleInformation(in_w, HANDLE_FLAG_INHERIT, 0);

    std::wstring cmd = quoted(wide(program));
    for (const auto& a : args) {
        cmd += L" " + quoted(wide(a));
    }
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = in_r;
    si.hStdOutput = out_w;
    si.hStdError = err_w;
    PROCESS_INFORMATION pi{};
    ::SetConsoleCtrlHandler(note_interrupt, TRUE);
    const std::wstring app = wide(program);
    const BOOL ok = ::CreateProcessW(app.c_str(), cmd.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                     nullptr, &si, &pi);
    ::CloseHandle(out_w);
    ::CloseHandle(err_w);
    ::CloseHandle(in_r);
    if (!ok) {
        const DWORD e = ::GetLastError();
        ::CloseHandle(out_r);
        ::CloseHandle(err_r);
        ::CloseHandle(in_w);
        ::SetConsoleCtrlHandler(note_interrupt, FALSE);
        throw std::runtime_error("cannot start " + program + " (error " + std::to_string(e) + ")");
    }
    DWORD written = 0;
    ::WriteFile(in_w, "\r\n", 2, &written, nullptr);
    ::CloseHandle(in_w);

    child_result r;
    event_recorder recorder;
    const auto started = std::chrono::steady_clock::now();
    r.started = started;
    std::mutex log_lock;
    auto pump = [&](HANDLE from, DWORD which) {
        HANDLE to = ::GetStdHandle(which);
        char buf[65536];
        DWORD got = 0;
        while (::ReadFile(from, buf, sizeof buf, &got, nullptr) && got > 0) {
            std::lock_guard<std::mutex> g(log_lock);
            DWORD w = 0;
            ::WriteFile(to, buf, got, &w, nullptr);
            recorder.feed(std::string_view(buf, got), since(started));
        }
    };
    std::thread t_out(pump, out_r, STD_OUTPUT_HANDLE);
    std::thread t_err(pump, err_r, STD_ERROR_HANDLE);
    t_out.join();
    t_err.join();
    r.events = recorder.finish();
    ::WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD code = 0;
    ::GetExitCodeProcess(pi.hProcess, &code);
    r.exit_code = static_cast<int>(code);
    ::CloseHandle(pi.hProcess);
    ::CloseHandle(pi.hThread);
    ::CloseHandle(out_r);
    ::CloseHandle(err_r);
    ::SetConsoleCtrlHandler(note_interrupt, FALSE);
    r.interrupted = g_interrupted;
    return r;
}

} // namespace kestrix::results
