#pragma once
// What the system says about the machine beyond CPUID: microcode, caches and packages of the
// whole topology, clocks, board and firmware. One backend per system fills it; a fact it cannot
// read says why. Serial numbers and UUIDs are never read.
#include "facts_value.hpp"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace kestrix::results {

// The caches of one level and kind with one size, and how many of them the machine has.
struct cache_level {
    std::uint32_t level = 0;
    std::string type; // "data", "instruction", "unified"
    std::uint64_t size_bytes = 0;
    std::uint32_t instances = 0;
    bool operator==(const cache_level&) const = default;
};

struct board_facts {
    fact<std::string> board_vendor, board_name, bios_vendor, bios_version, bios_date, sys_vendor,
        product_name;
    bool operator==(const board_facts&) const = default;
};

struct machine_answers {
    fact<std::string> microcode; // as the system writes it ("0xb404023")
    fact<std::vector<cache_level>> caches;
    fact<std::uint32_t> packages;
    fact<std::uint32_t> base_mhz, max_mhz;
    board_facts board;
};

// Linux: /proc/cpuinfo, /sys/devices/system/cpu and /sys/class/dmi/id below `root`, every
// processor directory there (offline ones are skipped, never the end of the walk). Compiled on
// every system so that recorded trees replay anywhere.
machine_answers read_sysfs_machine(const std::filesystem::path& root);

// cpu0, cpu1, ... below `cpu_root` (/sys/devices/system/cpu of a root) in numeric order.
std::vector<std::pair<int, std::filesystem::path>>
processor_dirs(const std::filesystem::path& cpu_root);

// This system's backend: read_sysfs_machine(root) on Linux; on Windows the registry and the
// processor information (root unused).
machine_answers read_machine(const std::filesystem::path& root);

// The registry's "Update Revision" (the 64-bit signature register as 8 little-endian bytes):
// Intel keeps the revision in the high half, AMD in the low half. Empty when it is not 8 bytes.
std::string microcode_from_update_revision(const unsigned char* bytes, std::size_t size);

// Groups caches given one by one (level, type, size) into cache levels, sorted.
std::vector<cache_level> group_caches(const std::vector<cache_level>& each);

} // namespace kestrix::results
