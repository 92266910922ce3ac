// The Linux backend of the platform interface.
#include "platform/linux/hwloc_records.hpp"
#include "platform/linux/meminfo.hpp"
#include "platform/memory.hpp"
#include "platform/os.hpp"
#include "platform/timer.hpp"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <pthread.h>
#include <sched.h>
#include <string>
#include <sys/mman.h>

namespace kestrix {

namespace {

std::string read_meminfo() {
    std::string text;
    std::FILE* f = std::fopen("/proc/meminfo", "r");
    if (f == nullptr) {
        return text;
    }
    char buffer[4096];
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) {
        text.append(buffer, n);
    }
    std::fclose(f);
    return text;
}

void* raw_aligned(std::uint64_t size) {
    void* p = nullptr;
    if (posix_memalign(&p, 64, static_cast<std::size_t>(size)) != 0) {
        return nullptr;
    }
    return p;
}

void* raw_huge(std::uint64_t size) {
    void* p = mmap(nullptr, static_cast<std::size_t>(size), PROT_READ | PROT_WRITE,
                   MAP_PRIVATE | MAP_ANONYMOUS | MAP_HUGETLB, -1, 0);
    return p == MAP_FAILED ? nullptr : p;
}

// Linux overcommits: the field blocks are admitted against the available physical memory.
allocation_ledger& field_ledger() {
    static allocation_ledger ledger;
    return ledger;
}

// munmap needs the length; huge-page reservations are never overcommitted, so no limit here.
allocation_ledger& huge_ledger() {
    static allocation_ledger ledger;
    return ledger;
}

} // namespace

std::int64_t fast_timer_now() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

std::uint64_t coarse_timer_now() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC_COARSE, &ts);
    return static_cast<std::uint64_t>(ts.tv_sec) * 1000 +
           static_cast<std::uint64_t>(ts.tv_nsec / 1000000);
}

namespace os {

std::int64_t performance_frequency() {
    return 1000000000;
}

std::int64_t coarse_tick_frequency() {
    timespec res{};
    if (clock_getres(CLOCK_MONOTONIC_COARSE, &res) != 0) {
        return 0;
    }
    const std::int64_t ns = static_cast<std::int64_t>(res.tv_sec) * 1000000000 + res.tv_nsec;
    return ns > 0 ? 1000000000 / ns : 0;
}

// The Windows timer rule does not apply here.
bool windows_6_2_or_later() {
    return false;
}

std::vector<processor_record> processor_records() {
    hwloc_topology_t topology = nullptr;
    if (hwloc_topology_init(&topology) != 0) {
        return {};
    }
    std::vector<processor_record> records;
    if (hwloc_topology_load(topology) == 0) {
        records = hwloc_processor_records(topology);
    }
    hwloc_topology_destroy(topology);
    return records;
}

void pin_current_thread(std::uint16_t group, std::uint32_t processor) {
    const std::size_t cpu = std::size_t{group} * 64 + processor;
    cpu_set_t* set = CPU_ALLOC(cpu + 1);
    if (set == nullptr) {
        return;
    }
    const std::size_t bytes = CPU_ALLOC_SIZE(cpu + 1);
    CPU_ZERO_S(bytes, set);
    CPU_SET_S(cpu, bytes, set);
    pthread_setaffinity_np(pthread_self(), bytes, set); // a failed pin leaves the thread free
    CPU_FREE(set);
}

std::uint64_t available_physical_memory() {
    return meminfo_bytes(read_meminfo(), "MemAvailable").value_or(0);
}

void* aligned_allocate(std::uint64_t size) {
    return field_ledger().allocate(size, &os::available_physical_memory, raw_aligned);
}

void aligned_release(void* p) {
    field_ledger().release(p);
    std::free(p);
}

std::uint64_t prepare_large_pages() {
    return meminfo_bytes(read_meminfo(), "Hugepagesize").value_or(0);
}

void* large_page_map(std::uint64_t rounded_size) {
    return huge_ledger().allocate(rounded_size, nullptr, raw_huge);
}

void large_page_unmap(void* p) {
    const std::uint64_t size = huge_ledger().release(p);
    if (size != 0) {
        munmap(p, static_cast<std::size_t>(size));
    }
}

} // namespace os
} // namespace kestrix
