#include "host/host.hpp"
#include "host/utf8_win32.hpp"

#include <ctime>
#include <string>

#include <windows.h>

namespace kestrix::results {
namespace {

using rtl_get_version = LONG(WINAPI*)(PRTL_OSVERSIONINFOW);
using wine_get_version = const char*(CDECL*)();

} // namespace

host_facts query_host() {
    host_facts h;
    h.os_name = "Windows";
    if (HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll")) {
        RTL_OSVERSIONINFOW v{};
        v.dwOSVersionInfoSize = sizeof v;
        auto get = reinterpret_cast<rtl_get_version>(
            reinterpret_cast<void*>(::GetProcAddress(ntdll, "RtlGetVersion")));
        if (get && get(&v) == 0) {
            h.os_version =
                std::to_string(v.dwMajorVersion) + "." + std::to_string(v.dwMinorVersion);
            h.kernel = "build " + std::to_string(v.dwBuildNumber);
        }
        auto wine = reinterpret_cast<wine_get_version>(
            reinterpret_cast<void*>(::GetProcAddress(ntdll, "wine_get_version")));
        if (wine) {
            h.os_name = std::string("Windows (Wine ") + wine() + ")";
        }
    }
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD len = MAX_COMPUTERNAME_LENGTH + 1;
    if (::GetComputerNameW(name, &len)) {
        h.host_name = utf8(std::wstring(name, len));
    }
    MEMORYSTATUSEX m{};
    m.dwLength = sizeof m;
    if (::GlobalMemoryStatusEx(&m)) {
        h.total_memory = m.ullTotalPhys;
    }
    DWORD bytes = 0;
    ::GetLogicalProcessorInformationEx(RelationProcessorPackage, nullptr, &bytes);
    if (bytes > 0) {
        std::string buf(bytes, '\0');
        auto* p = reinterpret_cast<SYSTEM_LOGICAL_PROCESSOR_INFORMATION_EX*>(buf.data());
        if (::GetLogicalProcessorInformationEx(RelationProcessorPackage, p, &bytes)) {
            for (DWORD off = 0; off < bytes;) {
                auto* e =
                    reinterpret_cast<SYSTEM_LOGICAL_PROCESSOR_INFORMATION_EX*>(buf.data() + off);
                if (e->Size == 0) {
                    break;
                }
                h.packages += e->Relationship == RelationProcessorPackage ? 1 : 0;
                off += e->Size;
            }
        }
    }
    return h;
}

std::string utc_now() {
    const std::time_t t = std::time(nullptr);
    std::tm tm{};
    ::gmtime_s(&tm, &t);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return buf;
}

} // namespace kestrix::results
