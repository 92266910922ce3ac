#!/usr/bin/env bash
# Builds the command-line fuzz target (clang-16, libFuzzer, address + undefined sanitizers) and
# runs it for a bounded time from the seed corpus. Fails on any crash, leak, timeout or
# sanitizer report; the input that failed is kept under the build folder's artifacts/.
#   KX_FUZZ_BUILD    build folder (default build/fuzz)
#   KX_FUZZ_SECONDS  run time (default 60)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${KX_FUZZ_BUILD:-build/fuzz}
seconds=${KX_FUZZ_SECONDS:-60}
cxx=$(command -v clang++-16 || command -v clang++)

# Unity builds: each layer library compiles as a few large units, much faster.
cmake -S fuzz -B "$build" -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_UNITY_BUILD=ON
cmake --build "$build" -j"$(nproc)" --target fuzz_command_line

# The corpus grows in a scratch folder; the committed seeds stay as they are.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$build/artifacts"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  "$build/fuzz_command_line" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
  -dict=fuzz/command_line.dict -artifact_prefix="$build/artifacts/" -print_final_stats=1 \
  "$work" fuzz/corpus
echo "fuzzing passed (${seconds}s)"
