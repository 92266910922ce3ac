#!/usr/bin/env bash
# Builds the fuzz targets (clang-16, libFuzzer, address + undefined sanitizers) and runs each
# for a bounded time from its seeds:
#   fuzz_command_line    kestrix's command line                 fuzz/corpus
#   fuzz_log_reader      console output into a record           results/tests/data/*.log
#   fuzz_record_reader   any JSON as a record file               fuzz/corpus_records, version 1 records
#   fuzz_record_outputs  show, compare and report on records     fuzz/corpus_outputs
# Fails on any crash, leak, timeout or sanitizer report; the input that failed is kept under the
# build folder's artifacts/.
#   KX_FUZZ_BUILD    build folder (default build/fuzz)
#   KX_FUZZ_SECONDS  run time of each target (default: 20 for the command line, 15 for the log
#                    reader and the record reader, 10 for the outputs: about 60 s in all)
#   KX_FUZZ_TARGETS  the targets to run (default all four)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${KX_FUZZ_BUILD:-build/fuzz}
cxx=$(command -v clang++-16 || command -v clang++)
targets=${KX_FUZZ_TARGETS:-"fuzz_command_line fuzz_log_reader fuzz_record_reader fuzz_record_outputs"}

declare -A default_seconds=([fuzz_command_line]=20 [fuzz_log_reader]=15 [fuzz_record_reader]=15
                            [fuzz_record_outputs]=10)
declare -A seeds=([fuzz_command_line]="fuzz/corpus"
                  [fuzz_log_reader]="results/tests/data"
                  [fuzz_record_reader]="fuzz/corpus_records results/tests/data/v1"
                  [fuzz_record_outputs]="fuzz/corpus_outputs")
declare -A options=([fuzz_command_line]="-dict=fuzz/command_line.dict"
                    [fuzz_log_reader]="-max_len=65536"
                    [fuzz_record_reader]="-max_len=32768"
                    [fuzz_record_outputs]="-max_len=65536")

# Unity builds: each layer library compiles as a few large units, much faster.
cmake -S fuzz -B "$build" -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_UNITY_BUILD=ON
# shellcheck disable=SC2086
cmake --build "$build" -j"$(nproc)" --target $targets

mkdir -p "$build/artifacts"
for target in $targets; do
    seconds=${KX_FUZZ_SECONDS:-${default_seconds[$target]}}
    # The corpus grows in a scratch folder; the committed seeds stay as they are.
    work=$(mktemp -d)
    # shellcheck disable=SC2086
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
      "$build/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      ${options[$target]} -artifact_prefix="$build/artifacts/$target-" -print_final_stats=1 \
      "$work" ${seeds[$target]} || { rm -rf "$work"; exit 1; }
    rm -rf "$work"
    echo "$target passed (${seconds}s)"
done
echo "fuzzing passed"
