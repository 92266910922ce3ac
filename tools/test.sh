#!/usr/bin/env bash
# Build and run the whole test suite: native release, the sanitizer builds, the Windows
# cross build under Wine, the release packages, then a bounded run of the command-line fuzz
# target.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh
jobs=$(nproc)
for preset in release asan tsan windows; do
  echo "=== $preset ==="
  cmake --preset "$preset"
  cmake --build --preset "$preset" -j"$jobs"
  ctest --preset "$preset" -j"$jobs"
done
echo "=== release packages ==="
bash tests/release/check-packages.sh
echo "=== fuzz ==="
bash tools/fuzz.sh
echo "all test suites passed"
