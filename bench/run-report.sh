#!/usr/bin/env bash
# One command for the performance report: builds bench_report (Release, build/perf) and runs it.
# As root it also reserves the huge pages of its large-page section for that section only
# (the old reservation is put back when the section ends). Arguments go to bench_report; the
# report (Markdown) goes to standard output, progress to standard error. About 6 minutes on a
# quiet 2-core machine.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${KX_PERF_BUILD:-$root/build/perf}
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release > /dev/null
cmake --build "$build" -j"$(nproc)" --target bench_report > /dev/null
reserve=()
wants_help=0
for arg in "$@"; do
    [[ $arg == --help || $arg == -h ]] && wants_help=1
done
if [[ $wants_help -eq 0 && $(id -u) -eq 0 && -w /proc/sys/vm/nr_hugepages ]]; then
    reserve=(--reserve-huge-pages)
fi
exec "$build/bench/bench_report" "${reserve[@]}" "$@"
