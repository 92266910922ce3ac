// The Linux backend of the platform interface.
#include "platform/interrupt.hpp"
#include "platform/linux/hwloc_records.hpp"
#include "platform/linux/meminfo.hpp"
#include "platform/memory.hpp"
#include "platform/memory_limits.hpp"
#include "platform/os.hpp"
#include "platform/timer.hpp"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <pthread.h>
#include <sched.h>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

namespace kestrix {

namespace {

std::optional<std::string> read_file(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "r");
    if (f == nullptr) {
        return std::nullopt;
    }
    std::string text;
    char buffer[4096];
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) {
        text.append(buffer, n);
    }
    const bool failed = std::ferror(f) != 0;
    std::fclose(f);
    if (failed) {
        return std::nullopt;
    }
    return text;
}

std::string read_meminfo() {
    return read_file("/proc/meminfo").value_or(std::string());
}

std::uint64_t page_size() {
    static const std::uint64_t size = [] {
        const long n = sysconf(_SC_PAGESIZE);
        return n > 0 ? static_cast<std::uint64_t>(n) : std::uint64_t{4096};
    }();
    return size;
}

std::size_t page_rounded(std::uint64_t size) {
    const std::uint64_t page = page_size();
    const std::uint64_t blocks = size == 0 ? 1 : (size - 1) / page + 1;
    return static_cast<std::size_t>(blocks * page);
}

// Field blocks are whole pages of their own, marked for small pages: under a transparent
// huge-page policy of "always" they would otherwise land in huge pages on some systems and not
// on others, and scores would depend on the distribution. Page alignment keeps the 64-byte
// promise.
void* raw_small_pages(std::uint64_t size) {
    if (size > SIZE_MAX - page_size()) {
        return nullptr;
    }
    const std::size_t length = page_rounded(size);
    void* p = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) {
        return nullptr;
    }
    madvise(p, length, MADV_NOHUGEPAGE); // a kernel without huge pages refuses: nothing to do
    return p;
}

// The processors this process may run on, as it started: the workers pin the main thread
// later, and a topology detected after that must not shrink to the pinned processor.
std::vector<unsigned> read_start_affinity() {
    std::vector<unsigned> cpus;
    for (std::size_t n = 1024; n <= 1024 * 1024; n *= 2) {
        cpu_set_t* set = CPU_ALLOC(n);
        if (set == nullptr) {
            return cpus;
        }
        const std::size_t bytes = CPU_ALLOC_SIZE(n);
        CPU_ZERO_S(bytes, set);
        if (sched_getaffinity(0, bytes, set) == 0) {
            for (std::size_t cpu = 0; cpu < n; ++cpu) {
                if (CPU_ISSET_S(cpu, bytes, set)) {
                    cpus.push_back(static_cast<unsigned>(cpu));
                }
            }
            CPU_FREE(set);
            return cpus;
        }
        CPU_FREE(set);
        if (errno != EINVAL) {
            return cpus;
        }
    }
    return cpus;
}

const std::vector<unsigned>& start_affinity() {
    static const std::vector<unsigned> cpus = read_start_affinity();
    return cpus;
}

// Read while the process is still single-threaded and unpinned.
[[maybe_unused]] const std::vector<unsigned>& start_affinity_at_load = start_affinity();

// Nothing happens for an empty list or a failed call.
void set_current_affinity(const std::vector<unsigned>& cpus) {
    if (cpus.empty()) {
        return;
    }
    const std::size_t n = std::size_t{*std::max_element(cpus.begin(), cpus.end())} + 1;
    cpu_set_t* set = CPU_ALLOC(n);
    if (set == nullptr) {
        return;
    }
    const std::size_t bytes = CPU_ALLOC_SIZE(n);
    CPU_ZERO_S(bytes, set);
    for (unsigned cpu : cpus) {
        CPU_SET_S(cpu, bytes, set);
    }
    pthread_setaffinity_np(pthread_self(), bytes, set);
    CPU_FREE(set);
}

// Restricts a loaded topology to the start affinity; false when hwloc lost the topology.
bool restrict_to_start_affinity(hwloc_topology_t topology) {
    const std::vector<unsigned>& cpus = start_affinity();
    if (cpus.empty()) {
        return true; // unknown: the whole machine
    }
    hwloc_bitmap_t set = hwloc_bitmap_alloc();
    if (set == nullptr) {
        return true;
    }
    for (unsigned cpu : cpus) {
        hwloc_bitmap_set(set, cpu);
    }
    const int rc = hwloc_topology_restrict(topology, set, 0);
    const int error = errno;
    hwloc_bitmap_free(set);
    // EINVAL leaves the topology as it was; ENOMEM takes it away.
    return rc == 0 || error != ENOMEM;
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

// Sets the flag; a second interrupt takes the signal's default action at once (the signal is
// blocked while its handler runs, so the raised one arrives as the handler returns).
extern "C" void on_interrupt_signal(int signal_number) {
    if (record_interrupt(signal_number)) {
        std::signal(signal_number, SIG_DFL);
        std::raise(signal_number);
    }
}

constexpr int interrupt_signals[] = {SIGINT, SIGTERM};

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
    // hwloc's x86 discovery would otherwise bind the thread to every processor in turn, the
    // ones outside the allowed set included. The restriction needs the "this system" flag;
    // a topology that hwloc's own variables load from elsewhere still counts as foreign.
    hwloc_topology_set_flags(topology, HWLOC_TOPOLOGY_FLAG_IS_THISSYSTEM |
                                           HWLOC_TOPOLOGY_FLAG_RESTRICT_TO_CPUBINDING);
    std::vector<processor_record> records;
    // A topology hwloc loaded from another machine's description (a synthetic one, an XML
    // export) is shown whole: this machine's affinity numbers other processors.
    if (hwloc_topology_load(topology) == 0 &&
        (hwloc_topology_is_thissystem(topology) == 0 || restrict_to_start_affinity(topology))) {
        records = hwloc_processor_records(topology);
    }
    hwloc_topology_destroy(topology);
    return records;
}

// A processor outside the start affinity comes from another machine's topology: the thread
// is left free within the start affinity instead (a pin there would escape taskset).
void pin_current_thread(std::uint16_t group, std::uint32_t processor) {
    const std::size_t cpu = std::size_t{group} * 64 + processor;
    const std::vector<unsigned>& start = start_affinity();
    if (!start.empty() &&
        !std::binary_search(start.begin(), start.end(), static_cast<unsigned>(cpu))) {
        unpin_current_thread();
        return;
    }
    set_current_affinity({static_cast<unsigned>(cpu)}); // a failed pin leaves the thread free
}

void unpin_current_thread() {
    set_current_affinity(start_affinity());
}

// In a container the memory cgroup's limit, not the host's free memory, is what the kernel
// enforces (by killing).
std::uint64_t available_physical_memory() {
    const std::uint64_t system = meminfo_bytes(read_meminfo(), "MemAvailable").value_or(0);
    return limited_available(system, memory_headroom(cgroup_memory_limits(read_file)));
}

void* aligned_allocate(std::uint64_t size) {
    // A recorded size of 0 would read as an unknown block on release.
    return field_ledger().allocate(size == 0 ? 1 : size, &os::available_physical_memory,
                                   raw_small_pages);
}

void aligned_release(void* p) {
    const std::uint64_t size = field_ledger().release(p);
    if (size != 0) {
        munmap(p, page_rounded(size));
    }
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

void install_interrupt_handlers() {
    struct sigaction action {};
    action.sa_handler = on_interrupt_signal;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (int signal_number : interrupt_signals) {
        sigaction(signal_number, &action, nullptr);
    }
}

void remove_interrupt_handlers() {
    for (int signal_number : interrupt_signals) {
        std::signal(signal_number, SIG_DFL);
    }
}

void end_as_interrupted(int number) {
    std::fflush(nullptr);
    std::signal(number, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, number);
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    std::raise(number);
    _exit(128 + number); // not reached for a signal whose default action ends the process
}

} // namespace os
} // namespace kestrix
