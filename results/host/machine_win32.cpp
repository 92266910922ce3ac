// The Windows reading of the machine: the registry's processor and BIOS keys, and the whole
// processor information (every group, before any affinity narrows it).
#include "machine_facts.hpp"
#include "utf8_win32.hpp"

#include <windows.h>

#include <fmt/format.h>

namespace kestrix::results {

namespace {

constexpr const wchar_t* processor_key = L"HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0";
constexpr const wchar_t* bios_key = L"HARDWARE\\DESCRIPTION\\System\\BIOS";

fact<std::string> reg_text(const wchar_t* key, const wchar_t* value, const char* key_name,
                           const char* value_name) {
    const std::string where = fmt::format("registry HKLM\\{}\\{}", key_name, value_name);
    DWORD size = 0;
    if (::RegGetValueW(HKEY_LOCAL_MACHINE, key, value, RRF_RT_REG_SZ, nullptr, nullptr, &size) !=
            ERROR_SUCCESS ||
        size < sizeof(wchar_t)) {
        return fact<std::string>::missing("could not read " + where);
    }
    std::wstring text(size / sizeof(wchar_t), L'\0');
    if (::RegGetValueW(HKEY_LOCAL_MACHINE, key, value, RRF_RT_REG_SZ, nullptr, text.data(),
                       &size) != ERROR_SUCCESS) {
        return fact<std::string>::missing("could not read " + where);
    }
    text.resize(wcsnlen(text.c_str(), text.size()));
    return fact<std::string>::known(utf8(text), where);
}

fact<std::string> microcode() {
    const char* where = "registry HKLM\\HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0\\"
                        "Update Revision";
    unsigned char bytes[8] = {};
    DWORD size = sizeof bytes;
    if (::RegGetValueW(HKEY_LOCAL_MACHINE, processor_key, L"Update Revision", RRF_RT_REG_BINARY,
                       nullptr, bytes, &size) != ERROR_SUCCESS) {
        return fact<std::string>::missing(fmt::format("could not read {}", where));
    }
    const std::string text = microcode_from_update_revision(bytes, size);
    if (text.empty()) {
        return fact<std::string>::missing(fmt::format("{} is not 8 bytes", where));
    }
    return fact<std::string>::known(text, where);
}

void read_processor_information(machine_answers& m) {
    const char* where = "GetLogicalProcessorInformationEx";
    DWORD size = 0;
    ::GetLogicalProcessorInformationEx(RelationAll, nullptr, &size);
    std::vector<unsigned char> buffer(size);
    if (size == 0 ||
        !::GetLogicalProcessorInformationEx(
            RelationAll, reinterpret_cast<PSYSTEM_LOGICAL_PROCESSOR_INFORMATION_EX>(buffer.data()),
            &size)) {
        m.caches = decltype(m.caches)::missing(fmt::format("{} failed", where));
        m.packages = fact<std::uint32_t>::missing(fmt::format("{} failed", where));
        return;
    }
    std::vector<cache_level> caches;
    std::uint32_t packages = 0;
    for (DWORD at = 0; at + sizeof(DWORD) * 2 <= size;) {
        const auto* info =
            reinterpret_cast<const SYSTEM_LOGICAL_PROCESSOR_INFORMATION_EX*>(buffer.data() + at);
        if (info->Size == 0 || at + info->Size > size) {
            break;
        }
        if (info->Relationship == RelationProcessorPackage) {
            ++packages;
        } else if (info->Relationship == RelationCache) {
            const CACHE_RELATIONSHIP& c = info->Cache;
            const char* type = c.Type == CacheData          ? "data"
                               : c.Type == CacheInstruction ? "instruction"
                                                            : "unified";
            if (c.Type != CacheTrace) {
                caches.push_back({c.Level, type, c.CacheSize, 1});
            }
        }
        at += info->Size;
    }
    m.caches = caches.empty() ? decltype(m.caches)::missing(fmt::format("{} lists no cache", where))
                              : decltype(m.caches)::known(group_caches(caches), where);
    m.packages = packages == 0
                     ? fact<std::uint32_t>::missing(fmt::format("{} lists no package", where))
                     : fact<std::uint32_t>::known(packages, where);
}

} // namespace

machine_answers read_machine(const std::filesystem::path&) {
    machine_answers m;
    m.microcode = microcode();
    read_processor_information(m);
    // "~MHz" is the rated clock the firmware reports at start; Windows keeps no maximum.
    DWORD mhz = 0;
    DWORD mhz_size = sizeof mhz;
    m.base_mhz =
        ::RegGetValueW(HKEY_LOCAL_MACHINE, processor_key, L"~MHz", RRF_RT_REG_DWORD, nullptr, &mhz,
                       &mhz_size) == ERROR_SUCCESS &&
                mhz != 0
            ? fact<std::uint32_t>::known(
                  mhz, "registry HKLM\\HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0\\~MHz")
            : fact<std::uint32_t>::missing("could not read the registry's ~MHz");
    m.max_mhz = fact<std::uint32_t>::missing("Windows does not report the maximum clock");
    const char* bios = "HARDWARE\\DESCRIPTION\\System\\BIOS";
    m.board = board_facts{
        .board_vendor = reg_text(bios_key, L"BaseBoardManufacturer", bios, "BaseBoardManufacturer"),
        .board_name = reg_text(bios_key, L"BaseBoardProduct", bios, "BaseBoardProduct"),
        .bios_vendor = reg_text(bios_key, L"BIOSVendor", bios, "BIOSVendor"),
        .bios_version = reg_text(bios_key, L"BIOSVersion", bios, "BIOSVersion"),
        .bios_date = reg_text(bios_key, L"BIOSReleaseDate", bios, "BIOSReleaseDate"),
        .sys_vendor = reg_text(bios_key, L"SystemManufacturer", bios, "SystemManufacturer"),
        .product_name = reg_text(bios_key, L"SystemProductName", bios, "SystemProductName"),
    };
    return m;
}

} // namespace kestrix::results
