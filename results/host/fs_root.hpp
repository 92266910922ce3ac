#pragma once
// Every system file kestrix-results reads (/proc, /sys, /etc) is read below one root: "/" on the
// machine itself, or the folder KESTRIX_FSROOT names, so that a recorded tree of another machine
// replays through the real program. What the processor answers (CPUID) and what system calls
// answer are never replayed.
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace kestrix::results {

struct root_choice {
    std::filesystem::path path = "/";
    std::string problem; // KESTRIX_FSROOT names no folder; empty when usable
};

// "/" unless KESTRIX_FSROOT names another folder (an empty value counts as unset).
root_choice fs_root();

// Windows asks the registry and system calls; it reads no system files.
#ifdef _WIN32
inline constexpr bool reads_system_files = false;
#else
inline constexpr bool reads_system_files = true;
#endif

inline bool is_real_root(const std::filesystem::path& root) {
    return root == "/";
}

struct file_text {
    std::optional<std::string> text;
    std::string error;    // the system's reason ("Permission denied") when there is no text
    bool missing = false; // no such file (rather than one that cannot be read)
};

// One file, as it is.
file_text read_file_text(const std::filesystem::path& p);

// The file `absolute` ("/proc/stat") of the system whose root is `root`.
file_text read_below(const std::filesystem::path& root, std::string_view absolute);

// "could not read /proc/stat: No such file or directory"
std::string unreadable(std::string_view absolute, const file_text& t);

std::string trim(std::string_view s);

} // namespace kestrix::results
