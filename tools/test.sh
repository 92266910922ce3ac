#!/usr/bin/env bash
# Build and run the whole test suite: native release, the sanitizer builds, the Windows
# cross build under Wine, the release packages, then a bounded run of the command-line fuzz
# target. Every step prints its time, and a table of them ends the run (also when one fails).
#   KX_TEST_UNITY  unity builds of the suite's trees (default ON; OFF builds file by file)
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
unity=${KX_TEST_UNITY:-ON}

# Each step's wall time, and the processor time of its programs (user + system, both cores):
# on a machine shared with other builds the wall time varies, the processor time much less.
step_names=()
step_walls=()
step_cpus=()
step_loads=()
suite_start=$SECONDS
cpu_file=$(mktemp)
cpu_total=0
cpu_now() { # cpu_total: processor seconds of every program the suite has finished so far
  times >"$cpu_file" # the builtin, in this shell: a subshell would not see the children
  cpu_total=$(awk 'NR == 2 { t = 0; for (i = 1; i <= 2; i++) { split($i, a, /[ms]/)
                   t += a[1] * 60 + a[2] } printf "%d\n", t }' "$cpu_file")
}
summary() {
  local rc=$? i wall=$((SECONDS - suite_start))
  cpu_now
  echo "=== step times (wall, processor, load average at the end) ==="
  for i in "${!step_names[@]}"; do
    printf '  %-10s %5d s %6d s  %s\n' "${step_names[$i]}" "${step_walls[$i]}" "${step_cpus[$i]}" \
      "${step_loads[$i]}"
  done
  printf '  %-10s %5d s %6d s  (%d min %02d s)%s\n' total "$wall" "$cpu_total" $((wall / 60)) \
    $((wall % 60)) "$([ "$rc" = 0 ] || echo ", FAILED")"
  rm -f "$cpu_file"
}
trap summary EXIT
step() { # step NAME command...: one timed step of the suite
  local name=$1 start=$SECONDS cpu_start wall
  shift
  echo "=== $name ==="
  cpu_now
  cpu_start=$cpu_total
  "$@"
  cpu_now
  wall=$((SECONDS - start))
  step_names+=("$name")
  step_walls+=("$wall")
  step_cpus+=($((cpu_total - cpu_start)))
  step_loads+=("$(cut -d' ' -f1 /proc/loadavg)")
  echo "=== $name: $wall s ==="
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
