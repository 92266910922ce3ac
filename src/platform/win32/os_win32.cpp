// The Windows backend of the platform interface.
#include "platform/allowed_processors.hpp"
#include "platform/interrupt.hpp"
#include "platform/memory_limits.hpp"
#include "platform/os.hpp"
#include "platform/processor_info.hpp"
#include "platform/timer.hpp"

#include <cstdio>
#include <malloc.h>
#include <optional>
#include <vector>
// clang-format off
#include <windows.h>
#include <psapi.h>
// clang-format on

namespace kestrix {

std::int64_t fast_timer_now() {
    LARGE_INTEGER value;
    QueryPerformanceCounter(&value);
    return value.QuadPart;
}

std::uint64_t coarse_timer_now() {
    return GetTickCount64();
}

namespace os {

namespace {

using nt_query_timer_resolution = LONG(WINAPI*)(ULONG*, ULONG*, ULONG*);

std::int64_t time_adjustment_frequency() {
    DWORD adjustment = 0, increment = 0;
    BOOL disabled = FALSE;
    if (GetSystemTimeAdjustment(&adjustment, &increment, &disabled) == 0 || increment == 0) {
        return 0;
    }
    return 10000000 / static_cast<std::int64_t>(increment);
}

// Memory committed by one process: what a job's memory limits count.
std::optional<std::uint64_t> committed_by(HANDLE process) {
    PROCESS_MEMORY_COUNTERS_EX counters{};
    counters.cb = sizeof counters;
    if (GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                             sizeof counters) == 0) {
        return std::nullopt;
    }
    return counters.PrivateUsage;
}

// The job's committed memory as the sum over its processes; nothing when they cannot be
// listed or one of them cannot be asked.
std::optional<std::uint64_t> committed_by_job() {
    std::vector<std::uint8_t> buffer(sizeof(JOBOBJECT_BASIC_PROCESS_ID_LIST) +
                                     1024 * sizeof(ULONG_PTR));
    auto* list = reinterpret_cast<JOBOBJECT_BASIC_PROCESS_ID_LIST*>(buffer.data());
    if (QueryInformationJobObject(nullptr, JobObjectBasicProcessIdList, list,
                                  static_cast<DWORD>(buffer.size()), nullptr) == 0 ||
        list->NumberOfProcessIdsInList < list->NumberOfAssignedProcesses) {
        return std::nullopt;
    }
    std::uint64_t total = 0;
    for (DWORD i = 0; i < list->NumberOfProcessIdsInList; ++i) {
        const auto id = static_cast<DWORD>(list->ProcessIdList[i]);
        if (id == GetCurrentProcessId()) {
            const auto own = committed_by(GetCurrentProcess());
            if (!own) {
                return std::nullopt;
            }
            total += *own;
            continue;
        }
        HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id);
        if (process == nullptr) {
            return std::nullopt;
        }
        const auto used = committed_by(process);
        CloseHandle(process);
        if (!used) {
            return std::nullopt;
        }
        total += *used;
    }
    return total;
}

// The memory limits of the job this process runs in, if any.
std::vector<memory_limit> job_memory_limits() {
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION info{};
    if (QueryInformationJobObject(nullptr, JobObjectExtendedLimitInformation, &info, sizeof info,
                                  nullptr) == 0) {
        return {};
    }
    std::vector<memory_limit> limits;
    const DWORD flags = info.BasicLimitInformation.LimitFlags;
    if ((flags & JOB_OBJECT_LIMIT_PROCESS_MEMORY) != 0) {
        if (const auto own = committed_by(GetCurrentProcess())) {
            limits.push_back({info.ProcessMemoryLimit, *own});
        }
    }
    if ((flags & JOB_OBJECT_LIMIT_JOB_MEMORY) != 0) {
        // Without the job's own figure the peak stands in: never below the current use.
        const std::uint64_t used = committed_by_job().value_or(info.PeakJobMemoryUsed);
        limits.push_back({info.JobMemoryLimit, used});
    }
    return limits;
}

constexpr UINT status_control_c_exit = 0xC000013A;

// Runs in a thread of its own that the system starts for the event.
BOOL WINAPI on_console_event(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) {
        return FALSE;
    }
    if (record_interrupt(static_cast<int>(event) + 1)) {
        ExitProcess(status_control_c_exit);
    }
    return TRUE;
}

} // namespace

std::int64_t performance_frequency() {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f.QuadPart;
}

std::int64_t coarse_tick_frequency() {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    if (ntdll == nullptr) {
        return time_adjustment_frequency();
    }
    const auto query = reinterpret_cast<nt_query_timer_resolution>(
        reinterpret_cast<void*>(GetProcAddress(ntdll, "NtQueryTimerResolution")));
    if (query == nullptr) {
        return time_adjustment_frequency();
    }
    ULONG maximum = 0, minimum = 0, current = 0;
    if (query(&maximum, &minimum, &current) < 0 || current == 0) {
        return time_adjustment_frequency();
    }
    return 10000000 / static_cast<std::int64_t>(current);
}

bool windows_6_2_or_later() {
    OSVERSIONINFOEXW info{};
    info.dwOSVersionInfoSize = sizeof info;
    info.dwMajorVersion = 6;
    info.dwMinorVersion = 2;
    info.wServicePackMajor = 0;
    ULONGLONG mask = 0;
    mask = VerSetConditionMask(mask, VER_MAJORVERSION, VER_GREATER_EQUAL);
    mask = VerSetConditionMask(mask, VER_MINORVERSION, VER_GREATER_EQUAL);
    mask = VerSetConditionMask(mask, VER_SERVICEPACKMAJOR, VER_GREATER_EQUAL);
    return VerifyVersionInfoW(&info, VER_MAJORVERSION | VER_MINORVERSION | VER_SERVICEPACKMAJOR,
                              mask) != 0;
}

std::vector<processor_record> processor_records() {
    DWORD length = 0;
    GetLogicalProcessorInformationEx(RelationAll, nullptr, &length);
    if (length == 0) {
        return {};
    }
    std::vector<std::uint8_t> buffer(length);
    if (GetLogicalProcessorInformationEx(
            RelationAll, reinterpret_cast<PSYSTEM_LOGICAL_PROCESSOR_INFORMATION_EX>(buffer.data()),
            &length) == 0) {
        return {};
    }
    std::vector<processor_record> records =
        parse_processor_information(buffer.data(), length < buffer.size() ? length : buffer.size());
    // A process whose affinity was narrowed (start /affinity, a parent's mask) runs in one
    // group on the processors of its mask only.
    DWORD_PTR process_mask = 0, system_mask = 0;
    if (GetProcessAffinityMask(GetCurrentProcess(), &process_mask, &system_mask) == 0 ||
        process_mask == 0 || process_mask == system_mask) {
        return records;
    }
    USHORT group = 0, count = 1;
    if (GetProcessGroupAffinity(GetCurrentProcess(), &count, &group) == 0 || count != 1) {
        if (GetActiveProcessorGroupCount() != 1) {
            return records; // several groups and none known for sure: leave the list whole
        }
        group = 0;
    }
    records = restrict_records(std::move(records), group, process_mask);
    return records;
}

void pin_current_thread(std::uint16_t group, std::uint32_t processor) {
    GROUP_AFFINITY affinity{};
    affinity.Group = group;
    affinity.Mask = static_cast<KAFFINITY>(1) << (processor % 64);
    SetThreadGroupAffinity(GetCurrentThread(), &affinity, nullptr); // failure leaves it free
}

// A new thread starts with the process's affinity, not its starter's pin: nothing to undo.
void unpin_current_thread() {}

std::uint64_t available_physical_memory() {
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    const std::uint64_t system = GlobalMemoryStatusEx(&status) != 0 ? status.ullAvailPhys : 0;
    return limited_available(system, memory_headroom(job_memory_limits()));
}

void* aligned_allocate(std::uint64_t size) {
    return _aligned_malloc(static_cast<size_t>(size), 64);
}

void aligned_release(void* p) {
    _aligned_free(p);
}

std::uint64_t prepare_large_pages() {
    // The results are not examined: without the privilege the allocation fails later.
    HANDLE token = nullptr;
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) {
        TOKEN_PRIVILEGES privileges{};
        privileges.PrivilegeCount = 1;
        privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
        LookupPrivilegeValueA(nullptr, "SeLockMemoryPrivilege", &privileges.Privileges[0].Luid);
        AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
        CloseHandle(token);
    }
    return GetLargePageMinimum();
}

void* large_page_map(std::uint64_t rounded_size) {
    return VirtualAlloc(nullptr, static_cast<SIZE_T>(rounded_size),
                        MEM_RESERVE | MEM_COMMIT | MEM_LARGE_PAGES, PAGE_READWRITE);
}

void large_page_unmap(void* p) {
    VirtualFree(p, 0, MEM_RELEASE);
}

void install_interrupt_handlers() {
    SetConsoleCtrlHandler(on_console_event, TRUE);
}

void remove_interrupt_handlers() {
    SetConsoleCtrlHandler(on_console_event, FALSE);
}

void end_as_interrupted(int) {
    std::fflush(nullptr);
    ExitProcess(status_control_c_exit);
}

} // namespace os
} // namespace kestrix
