#pragma once
// The complete help output, written out by hand; shared by the unit and end-to-end tests.
#include <string>

namespace kestrix::test {

inline std::string expected_help(const std::string& program_name) {
    return "USAGE:\n"
           "  " +
           program_name +
           " [-?|-h|--help] [-n|--numthreads <numthreads>] [-d|--duration <duration>]"
           " [-s|--size <size>] [--workload <workload>] [--isa <isa>] [--strict-isa-check]"
           " [--threading <threading>] [--large-pages] [--bypass-timer-check] [--topo-debug]"
           " [--timer-debug] [--kestrix] [--harness-var <var>]"
           " [--harness-sub-runs <harness-sub-runs>] [--harness-opt <harness-option-string>]\n"
           "\n"
           "Display usage information.\n"
           "\n"
           "OPTIONS, ARGUMENTS:\n"
           "  -?, -h, --help          \n"
           "  -n, --numthreads <numthreads>\n"
           "                          Number of threads to use [default: 0]\n"
           "  -d, --duration <duration>\n"
           "                          Bench duration (s) between 1-1000s [default: 30]\n"
           "  -s, --size <size>       Grid size, one of [64, 128, 192, 256, 320, 384, 448, 512, "
           "640, 768, 1024, 2048, 4096, 8192] [default: 192]\n"
           "  --workload <workload>   Workload to use (results with different workloads aren't "
           "comparable), one of [standing_wave, soft_gaussian] [default: standing_wave]\n"
           "  --isa <isa>             Instruction set to use for workload/solver, one of [sse2, "
           "avx, avx2, fma, fma-apx, avx512f, avx512vl, avx10-2-256, avx10-2-512] [default: "
           "sse2]\n"
           "  --strict-isa-check      Don't try to run if the ISA support check fails\n"
           "  --threading <threading> Threading manager to use [default: os]\n"
           "  --large-pages           Use large pages allocator\n"
           "  --bypass-timer-check    Run the bench even if the timer is not HWBOT compliant\n"
           "  --topo-debug            Print detected topology for debug\n"
           "  --timer-debug           Printed detected timers\n"
           "  --kestrix               \n"
           "  --harness-var <var>     Variable for the harness to test over [default: none]\n"
           "  --harness-sub-runs <harness-sub-runs>\n"
           "                          How many times to run the benchmark for each parameter "
           "sweep point [default: 3]\n"
           "  --harness-opt <harness-option-string>\n"
           "                          String parsed by selected variable to specify scope if "
           "supported\n"
           "\n"
           "field size      memory used per thread\n"
           "  64                 17.55 MiB\n"
           "  128               134.09 MiB\n"
           "  192               445.64 MiB\n"
           "  256                 1.02 GiB\n"
           "  320                 1.99 GiB\n"
           "  384                 3.43 GiB\n"
           "  448                 5.43 GiB\n"
           "  512                 8.09 GiB\n"
           "  640                15.77 GiB\n"
           "  768                27.21 GiB\n"
           "  1024               64.38 GiB\n"
           "  2048              513.50 GiB\n"
           "  4096                4.01 TiB\n"
           "  8192               32.02 TiB\n"
           "kestrix 1.4.0 \xc2\xa9 2026 the kestrix developers\n";
}

} // namespace kestrix::test
