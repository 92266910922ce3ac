// The real binary on the hosts benchmarks meet: a memory cgroup of 1 GiB, a narrowed processor
// affinity, transparent huge pages set to "always", and interrupts during a harness.
#include "platform/memory_limits.hpp"
#include "support/run_binary.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <sched.h>
#include <unistd.h>

namespace kestrix {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::process_result;
using test::spawn_options;
using test::started_kestrix;

std::optional<std::string> read_text(const std::string& path) {
    std::ifstream in(path);
    if (!in) {
        return std::nullopt;
    }
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

bool write_text(const std::string& path, const std::string& text) {
    std::ofstream out(path);
    out << text;
    out.flush();
    return static_cast<bool>(out);
}

std::size_t occurrences(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++n;
    }
    return n;
}

// A child memory cgroup of this test's own with a memory limit; removed at the end.
class memory_cgroup {
public:
    explicit memory_cgroup(std::uint64_t limit_bytes) {
        const auto own = own_memory_cgroup(read_text);
        if (!own) {
            reason_ = "no memory cgroup hierarchy is mounted";
            return;
        }
        dir_ = own->path + "/kx_e2e_" + std::to_string(getpid());
        std::error_code ec;
        if (!fs::create_directory(dir_, ec)) {
            reason_ = "cannot create a cgroup under " + own->path + ": " + ec.message();
            dir_.clear();
            return;
        }
        const std::string limit = std::to_string(limit_bytes);
        const bool v2 = own->version == 2;
        if (!write_text(dir_ + (v2 ? "/memory.max" : "/memory.limit_in_bytes"), limit)) {
            reason_ = "cannot set the memory limit in " + dir_ +
                      " (no memory controller delegated there)";
            return;
        }
        // Where swap could take the excess the limit would not be met by a kill either.
        write_text(dir_ + (v2 ? "/memory.swap.max" : "/memory.memsw.limit_in_bytes"),
                   v2 ? "0" : limit);
        usable_ = true;
    }
    ~memory_cgroup() {
        if (dir_.empty()) {
            return;
        }
        for (int i = 0; i < 50 && rmdir(dir_.c_str()) != 0; ++i) {
            std::this_thread::sleep_for(20ms); // the ended child leaves the group shortly after
        }
    }
    memory_cgroup(const memory_cgroup&) = delete;
    memory_cgroup& operator=(const memory_cgroup&) = delete;
    bool usable() const { return usable_; }
    const std::string& reason() const { return reason_; }
    std::string procs() const { return dir_ + "/cgroup.procs"; }

private:
    std::string dir_;
    std::string reason_;
    bool usable_ = false;
};

TEST(hosts_e2e, runs_in_a_memory_cgroup_end_cleanly) {
#ifdef __SANITIZE_THREAD__
    GTEST_SKIP() << "the thread sanitizer's shadow memory would count against the limit";
#endif
    constexpr std::uint64_t mib = std::uint64_t{1} << 20;
    struct row {
        std::uint64_t limit_mib;
        std::vector<std::string> args;
        std::string expected; // on standard output or standard error
        bool scored;
    };
    const std::vector<row> rows = {
        // 1.02 GiB of fields: refused by the allocation guard, not killed by the kernel.
        {1024, {"-n", "1", "-s", "256"}, "field allocation failed in thread 0", false},
        {1024, {"-n", "0", "-s", "256"}, "field allocation failed in thread", false},
        // 445 MiB per thread: the automatic count fits as many grids as the limit holds.
        {1024, {"-n", "0", "-s", "192"}, "running with 2 threads (", true},
        {768, {"-n", "0", "-s", "192"}, "running with 1 thread (", true},
        {768, {"-n", "2", "-s", "192"}, "2 threads need more than the", false},
    };
    for (const row& r : rows) {
        memory_cgroup group(r.limit_mib * mib);
        if (!group.usable()) {
            GTEST_SKIP() << group.reason();
        }
        std::vector<std::string> args = r.args;
        args.insert(args.end(), {"-d", "1", "--harness-sub-runs", "1"});
        started_kestrix run(args, spawn_options{{}, group.procs()});
        const process_result result = run.finish();
        const std::string what =
            std::to_string(r.limit_mib) + " MiB, " + r.args[1] + " threads, size " + r.args[3];
        EXPECT_FALSE(result.signaled) << what << ": ended by signal " << result.exit_code;
        EXPECT_EQ(result.exit_code, 0) << what << '\n' << result.err;
        EXPECT_NE((result.out + result.err).find(r.expected), std::string::npos)
            << what << ":\n"
            << result.out << result.err;
        EXPECT_EQ(result.out.find("final score") != std::string::npos, r.scored) << what;
    }
}

std::vector<unsigned> allowed_cpus() {
    cpu_set_t set;
    CPU_ZERO(&set);
    std::vector<unsigned> cpus;
    if (sched_getaffinity(0, sizeof set, &set) == 0) {
        for (unsigned cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
            if (CPU_ISSET(cpu, &set)) {
                cpus.push_back(cpu);
            }
        }
    }
    return cpus;
}

// Every Cpus_allowed_list of the process's threads seen while it runs, and the most threads seen.
struct affinity_watch {
    std::set<std::string> lists;
    std::size_t threads = 0;
};

affinity_watch watch_affinity(started_kestrix& run) {
    affinity_watch w;
    const std::string proc = "/proc/" + std::to_string(run.pid());
    while (run.running()) {
        // Before taskset has executed the binary the process is taskset's own.
        if (read_text(proc + "/comm").value_or("") == "kestrix\n") {
            std::size_t threads = 0;
            std::error_code ec;
            for (const auto& task : fs::directory_iterator(proc + "/task", ec)) {
                std::istringstream status(read_text(task.path().string() + "/status").value_or(""));
                for (std::string line; std::getline(status, line);) {
                    if (line.rfind("Cpus_allowed_list:", 0) == 0) {
                        w.lists.insert(line.substr(line.find_first_not_of(" \t", 18)));
                        ++threads;
                    }
                }
            }
            w.threads = std::max(w.threads, threads);
        }
        std::this_thread::sleep_for(10ms);
    }
    return w;
}

TEST(hosts_e2e, taskset_narrows_thread_count_placement_and_topology) {
    const std::vector<unsigned> cpus = allowed_cpus();
    if (cpus.size() < 2) {
        GTEST_SKIP() << "only one processor is allowed here: no narrower set to give";
    }
    // The last processor: a worker pinned to processor 0 would show.
    const std::string only = std::to_string(cpus.back());
    const spawn_options narrowed{{"taskset", "-c", only}, {}};

    started_kestrix topo({"--topo-debug"}, narrowed);
    const process_result tree = topo.finish();
    EXPECT_EQ(occurrences(tree.out, "logical idx="), 1u) << tree.out;
    EXPECT_NE(tree.out.find("os=" + only + "\n"), std::string::npos) << tree.out;

    struct row {
        std::string threads, threading;
        std::size_t workers;
    };
    for (const row& r : std::vector<row>{{"0", "os", 1},
                                         {"0", "phte", 1},
                                         {"0", "numa", 1},
                                         {"2", "phte", 2},
                                         {"2", "numa", 2}}) {
        const std::string what = "-n " + r.threads + " --threading " + r.threading;
        started_kestrix run({"-n", r.threads, "--threading", r.threading, "-d", "2", "-s", "64",
                             "--harness-sub-runs", "1"},
                            narrowed);
        const affinity_watch seen = watch_affinity(run);
        const process_result result = run.finish();
        ASSERT_EQ(result.exit_code, 0) << what << '\n' << result.err;
        const std::string count =
            r.workers == 1 ? "running with 1 thread (" : "running with 2 threads (";
        EXPECT_NE(result.out.find(count + r.threading + ")"), std::string::npos) << what << '\n'
                                                                                 << result.out;
        EXPECT_EQ(seen.lists, std::set<std::string>{only}) << what;
        EXPECT_GE(seen.threads, r.workers) << what;
    }
}

std::string topology_file(const std::string& name) {
    return std::string(KX_TOPOLOGY_DATA) + "/" + name;
}

// Another machine's description loaded through hwloc's own variables is shown whole, whatever
// this process may run on; declared this machine's (HWLOC_THISSYSTEM=1) it is narrowed.
TEST(hosts_e2e, another_machines_topology_prints_whole_under_taskset) {
    const std::vector<unsigned> cpus = allowed_cpus();
    ASSERT_FALSE(cpus.empty());
    const std::string first = std::to_string(cpus.front()), last = std::to_string(cpus.back());
    const std::string server = "HWLOC_XMLFILE=" + topology_file("two-socket-80-threads.xml");
    const std::string hybrid = "HWLOC_XMLFILE=" + topology_file("hybrid-8p-8e.xml");
    struct row {
        std::vector<std::string> env;
        std::string cpu; // taskset -c
        std::string levels;
        std::size_t nodes, llcs, cores, logicals;
        std::string part; // a stretch of the tree
    };
    const std::vector<row> rows = {
        {{"HWLOC_SYNTHETIC=pack:2 core:4 pu:2"},
         first,
         "perf_level_count=1\n",
         1,
         1,
         8,
         16,
         "|  |--core id=7 perf_level=0\n|  |  |--logical idx=0 os=14\n"
         "|  |  |--logical idx=1 os=15\n"},
        // 128 processors: the last node's last core is in the second group of 64.
        {{"HWLOC_SYNTHETIC=pack:2 numa:4 l3:2 core:4 pu:2"},
         first,
         "perf_level_count=1\n",
         8,
         16,
         64,
         128,
         "numa node id=7\n|--llc id=14\n|  |--core id=56 perf_level=0\n"
         "|  |  |--logical idx=0 os=48\n"},
        // Siblings n and n + 40: core 30 holds processors 30 and 70.
        {{server},
         first,
         "perf_level_count=1\n",
         4,
         8,
         40,
         80,
         "numa node id=3\n|--llc id=6\n|  |--core id=30 perf_level=0\n"
         "|  |  |--logical idx=0 os=30\n|  |  |--logical idx=1 os=6\n"},
        {{hybrid},
         first,
         "perf_level_count=2\n",
         1,
         1,
         16,
         24,
         "|  |--core id=7 perf_level=0\n|  |  |--logical idx=0 os=14\n"
         "|  |  |--logical idx=1 os=15\n|  |--core id=8 perf_level=1\n"
         "|  |  |--logical idx=0 os=16\n|  |--core id=9 perf_level=1\n"},
        {{server, "HWLOC_THISSYSTEM=1"},
         last,
         "perf_level_count=1\n",
         1,
         1,
         1,
         1,
         "|  |  |--logical idx=0 os=" + last + "\n"},
    };
    for (const row& r : rows) {
        std::vector<std::string> prefix = {"env"};
        prefix.insert(prefix.end(), r.env.begin(), r.env.end());
        prefix.insert(prefix.end(), {"taskset", "-c", r.cpu});
        started_kestrix topo({"--topo-debug"}, spawn_options{prefix, {}});
        const process_result tree = topo.finish();
        const std::string what = r.env.back() + " under taskset -c " + r.cpu;
        ASSERT_EQ(tree.exit_code, 0) << what << '\n' << tree.err;
        EXPECT_EQ(tree.err, "") << what;
        EXPECT_EQ(tree.out.rfind(r.levels, 0), 0u) << what << '\n' << tree.out;
        EXPECT_EQ(occurrences(tree.out, "numa node id="), r.nodes) << what;
        EXPECT_EQ(occurrences(tree.out, "|--llc id="), r.llcs) << what;
        EXPECT_EQ(occurrences(tree.out, "|--core id="), r.cores) << what;
        EXPECT_EQ(occurrences(tree.out, "|--logical idx="), r.logicals) << what;
        EXPECT_NE(tree.out.find(r.part), std::string::npos) << what << '\n' << tree.out;
    }
}

// With another machine's topology, a worker whose processor lies outside the start affinity
// stays free within it: a run never leaves taskset's processors.
TEST(hosts_e2e, another_machines_topology_places_workers_only_inside_the_start_affinity) {
    const std::vector<unsigned> cpus = allowed_cpus();
    ASSERT_FALSE(cpus.empty());
    const std::string last = std::to_string(cpus.back());
    const bool first_two = cpus.size() >= 2 && cpus[0] == 0 && cpus[1] == 1;
    struct row {
        std::string env;
        std::string cpus; // taskset -c
        std::vector<std::string> args;
        std::string count;                       // the run's thread-count line
        std::set<std::string> allowed, required; // Cpus_allowed_list values seen
    };
    std::vector<row> rows = {
        // Four cores, numa order processors 0, 2, 4, 6: none is the last one allowed here.
        {"HWLOC_SYNTHETIC=pack:2 core:2 pu:2",
         last,
         {"-n", "0", "--threading", "numa"},
         "running with 4 threads (numa)",
         {last},
         {last}},
        {"HWLOC_XMLFILE=" + topology_file("hybrid-8p-8e.xml"),
         last,
         {"-n", "2", "--threading", "phte"},
         "running with 2 threads (phte)",
         {last},
         {last}},
    };
    if (first_two) {
        // Processors 0 and 1 of that machine are allowed here: workers are pinned to them.
        rows.push_back({"HWLOC_SYNTHETIC=pack:1 core:2 pu:1",
                        "0,1",
                        {"-n", "2", "--threading", "numa"},
                        "running with 2 threads (numa)",
                        {"0-1", "0", "1"},
                        {"0", "1"}});
        // Processors 0, 2, 4: worker 0 is pinned, the other two stay on both.
        rows.push_back({"HWLOC_SYNTHETIC=pack:2 core:2 pu:2",
                        "0,1",
                        {"-n", "3", "--threading", "numa"},
                        "running with 3 threads (numa)",
                        {"0-1", "0"},
                        {"0-1", "0"}});
    }
    for (const row& r : rows) {
        std::vector<std::string> args = r.args;
        args.insert(args.end(), {"-d", "1", "-s", "64", "--harness-sub-runs", "1"});
        started_kestrix run(args, spawn_options{{"env", r.env, "taskset", "-c", r.cpus}, {}});
        const affinity_watch seen = watch_affinity(run);
        const process_result result = run.finish();
        const std::string what =
            r.env + " under taskset -c " + r.cpus + ", -n " + r.args[1] + " " + r.args[3];
        ASSERT_EQ(result.exit_code, 0) << what << '\n' << result.err;
        EXPECT_NE(result.out.find(r.count), std::string::npos) << what << '\n' << result.out;
        for (const std::string& list : seen.lists) {
            EXPECT_EQ(r.allowed.count(list), 1u) << what << ": a thread on " << list;
        }
        for (const std::string& list : r.required) {
            EXPECT_EQ(seen.lists.count(list), 1u) << what << ": no thread on " << list;
        }
    }
}

TEST(hosts_e2e, an_interrupt_prints_the_table_of_what_finished_and_ends_as_interrupted) {
    for (const int signal_number : {SIGINT, SIGTERM}) {
        const std::string what = signal_number == SIGINT ? "SIGINT" : "SIGTERM";
        started_kestrix run({"-n", "1", "-d", "1", "-s", "64", "--harness-sub-runs", "3"});
        const auto deadline = std::chrono::steady_clock::now() + 60s;
        while (run.out_so_far().find("final score") == std::string::npos && run.running() &&
               std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(5ms);
        }
        ASSERT_TRUE(run.running()) << what << ": ended before the signal";
        const auto sent = std::chrono::steady_clock::now();
        kill(run.pid(), signal_number);
        while (run.running() && std::chrono::steady_clock::now() < sent + 10s) {
            std::this_thread::sleep_for(5ms);
        }
        const auto took = std::chrono::steady_clock::now() - sent;
        const process_result r = run.finish();
        EXPECT_LT(took, 2s) << what;
        EXPECT_TRUE(r.signaled) << what << ": exit code " << r.exit_code;
        EXPECT_EQ(r.exit_code, signal_number) << what;
        EXPECT_EQ(occurrences(r.err, "interrupted; aborting"), 1u) << what << '\n' << r.err;
        EXPECT_EQ(occurrences(r.out, "final score"), 1u) << what;
        EXPECT_EQ(occurrences(r.out, "!!HARNESS!! run 3/3"), 0u) << what;
        const auto table = r.out.find("=====none results=====");
        ASSERT_NE(table, std::string::npos) << what << '\n' << r.out;
        const std::string rows = r.out.substr(table);
        EXPECT_NE(rows.find("      ---      --- |"), std::string::npos) << what << '\n' << rows;
        EXPECT_EQ(r.out.find("press enter to exit"), std::string::npos) << what;
        EXPECT_EQ(r.err.find("invalid result"), std::string::npos) << what;
    }
}

// The machine-wide transparent huge-page policy, set to "always" for the test's scope.
class thp_always {
public:
    thp_always() {
        const auto text = read_text(path);
        if (!text) {
            reason_ = "transparent huge pages are not available";
            return;
        }
        const auto open = text->find('['), close = text->find(']');
        if (geteuid() != 0 || open == std::string::npos || close == std::string::npos) {
            reason_ = "switching the huge-page policy needs root";
            return;
        }
        previous_ = text->substr(open + 1, close - open - 1);
        active_ = write_text(path, "always");
        if (!active_) {
            reason_ = "the huge-page policy cannot be written";
        }
    }
    ~thp_always() {
        if (active_) {
            write_text(path, previous_);
        }
    }
    bool active() const { return active_; }
    const std::string& reason() const { return reason_; }

private:
    static constexpr const char* path = "/sys/kernel/mm/transparent_hugepage/enabled";
    std::string previous_;
    std::string reason_;
    bool active_ = false;
};

std::uint64_t anon_huge_kib(int pid) {
    std::istringstream in(read_text("/proc/" + std::to_string(pid) + "/smaps_rollup").value_or(""));
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("AnonHugePages:", 0) == 0) {
            return std::stoull(line.substr(14));
        }
    }
    return 0;
}

TEST(hosts_e2e, default_fields_stay_in_small_pages_under_the_always_policy) {
#ifdef __SANITIZE_THREAD__
    GTEST_SKIP() << "the thread sanitizer's shadow of the fields is its own memory, in huge pages";
#endif
    thp_always policy;
    if (!policy.active()) {
        GTEST_SKIP() << policy.reason();
    }
    started_kestrix run({"-n", "1", "-s", "192", "-d", "2", "--harness-sub-runs", "1"});
    std::uint64_t most = 0;
    bool timed = false;
    while (run.running()) {
        if (run.out_so_far().find("starting bench..") != std::string::npos) {
            timed = true;
            most = std::max(most, anon_huge_kib(run.pid()));
        }
        std::this_thread::sleep_for(20ms);
    }
    const process_result r = run.finish();
    ASSERT_EQ(r.exit_code, 0) << r.err;
    ASSERT_TRUE(timed);
    // 445 MiB of fields; the runtime's own heap may take a huge page or two.
    EXPECT_LT(most, 16u * 1024) << most << " KiB in huge pages";
}

} // namespace
} // namespace kestrix
