// The Windows backend of the platform interface.
#include "platform/os.hpp"
#include "platform/processor_info.hpp"
#include "platform/timer.hpp"

#include <malloc.h>
#include <vector>
#include <windows.h>

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
    return parse_processor_information(buffer.data(),
                                       length < buffer.size() ? length : buffer.size());
}

void pin_current_thread(std::uint16_t group, std::uint32_t processor) {
    GROUP_AFFINITY affinity{};
    affinity.Group = group;
    affinity.Mask = static_cast<KAFFINITY>(1) << (processor % 64);
    SetThreadGroupAffinity(GetCurrentThread(), &affinity, nullptr); // failure leaves it free
}

std::uint64_t available_physical_memory() {
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    if (GlobalMemoryStatusEx(&status) == 0) {
        return 0;
    }
    return status.ullAvailPhys;
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

} // namespace os
} // namespace kestrix
