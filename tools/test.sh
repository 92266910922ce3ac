#!/usr/bin/env bash
# Build and run the whole test suite: native release, the sanitizer builds, the Windows
# cross build under Wine, the release packages, then a bounded run of the command-line fuzz
# target. Every step prints its time, and a table of them ends the run (also when one fails).
#   KX_TEST_UNITY  unity builds of the suite's trees (default ON; OFF builds file by file)
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
unity=${KX_TEST_UNITY:-ON}

step_names=()
step_times=()
suite_start=$SECONDS
summary() {
  local rc=$? i
  echo "=== step times ==="
  for i in "${!step_names[@]}"; do
    printf '  %-18s %5d s\n' "${step_names[$i]}" "${step_times[$i]}"
  done
  printf '  %-18s %5d s (%d min %02d s)%s\n' total $((SECONDS - suite_start)) \
    $(((SECONDS - suite_start) / 60)) $(((SECONDS - suite_start) % 60)) \
    "$([ "$rc" = 0 ] || echo ", failed")"
}
trap summary EXIT
step() { # step NAME command...: one timed step of the suite
  local name=$1 start=$SECONDS
  shift
  echo "=== $name ==="
  "$@"
  step_names+=("$name")
  step_times+=($((SECONDS - start)))
  echo "=== $name: $((SECONDS - start)) s ==="
}

# The build targets the preset's tests start: the program of each test (a kx_add_test test is
# named after its program) and the programs named on its command line (the e2e tests reach
# kestrix through their targets' dependencies).
test_targets() { # preset
  local dir=build/$1
  ctest --preset "$1" --show-only=json-v1 2>/dev/null |
    python3 -c '
import json, os, sys
build = os.path.realpath(sys.argv[1])
names = set()
for test in json.load(sys.stdin)["tests"]:
    names.add(test["name"])
    for arg in test.get("command", []):
        if os.path.isabs(arg) and os.path.realpath(arg).startswith(build + os.sep):
            names.add(os.path.basename(arg))
print("\n".join(sorted(names)))' "$dir" |
    grep -Fx -f <(cmake --build "$dir" --target help | sed -n 's/^\.\.\. \([^ ]*\).*/\1/p')
}

suite() { # preset [what]: configure, build (everything, or only what its tests run), test
  local preset=$1 what=${2:-all}
  cmake --preset "$preset" -DCMAKE_UNITY_BUILD="$unity" >/dev/null
  if [ "$what" = tests ]; then
    mapfile -t targets < <(test_targets "$preset")
    echo "building for the $preset tests: ${targets[*]}"
    cmake --build --preset "$preset" -j"$jobs" --target "${targets[@]}"
  else
    cmake --build --preset "$preset" -j"$jobs"
  fi
  ctest --preset "$preset" -j"$jobs"
}

step deps bash tools/install-deps.sh
step release suite release
step asan suite asan
# The thread sanitizer runs the tests that start threads: only their programs are built.
step tsan suite tsan tests
step windows suite windows
step packages bash tests/release/check-packages.sh
step fuzz bash tools/fuzz.sh
echo "all test suites passed"
