#!/usr/bin/env bash
# Runs the same command lines through two kestrix binaries and compares what they print, byte for
# byte: a change that should leave the program's output alone can be checked against the build
# before it. Only command lines that end without a timed run are compared (help, every kind of
# refused input, harness plans, the topology print, a large-page run without huge pages); the
# rate figures of the last are masked.
#   tools/compare-output.sh OLD NEW        two binaries (each may be "wine path/kestrix.exe")
# Exit status: 0 when every command line printed the same, 1 otherwise.
set -uo pipefail
if [[ $# -ne 2 ]]; then
    echo "usage: tools/compare-output.sh OLD NEW" >&2
    exit 2
fi
read -r -a old <<< "$1"
read -r -a new <<< "$2"
export WINEDEBUG=${WINEDEBUG:--all}

capture() {
    "$@" < /dev/null 2>&1
    echo "exit status $?"
}
mask() {
    sed -E 's/[0-9]+\.[0-9]+ MGups.*//'
}

cases=(
    "--help" "-h" "-?" "--kestrix" "--topo-debug"
    "--isa avx3" "--isa" "--unknown" "--size 7" "--size 63" "-s 100000000000000000000"
    "-d abc" "-n -1" "-n 99999999999" "--workload standing" "--threading foo"
    "--isa=fma-apx -d 1 -s 64 --strict-isa-check"
    "--harness-var bogus"
    "--harness-var size --harness-sub-runs 0"
    "--harness-var isa --harness-opt nope --harness-sub-runs 0"
    "--harness-var threads --harness-opt 1-4 --harness-sub-runs 0"
    "--harness-var duration --harness-opt 1-3 --harness-sub-runs 0"
    "--harness-var size --harness-opt 64-8192 --harness-sub-runs 0"
    "--large-pages -n 1 -s 64 -d 1 --harness-sub-runs 1"
)
differ=0
for line in "${cases[@]}"; do
    read -r -a args <<< "$line"
    a=$(capture "${old[@]}" "${args[@]}" | mask)
    b=$(capture "${new[@]}" "${args[@]}" | mask)
    if [[ "$a" != "$b" ]]; then
        differ=$((differ + 1))
        echo "differs: kestrix $line"
        diff <(echo "$a") <(echo "$b") | head -20
    fi
done
echo "${#cases[@]} command lines, $differ differ"
[[ $differ -eq 0 ]]
