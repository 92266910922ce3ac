#!/usr/bin/env bash
# Checks the table parser of tools/plot-harness.sh on recorded harness outputs, and that a
# chart comes out as a PNG when gnuplot is present.
set -uo pipefail
script="$(dirname "$0")/../tools/plot-harness.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

# case name | harness output (printf format) | expected --data output (printf format, or FAIL)
cases=(
  "isa sweep with missing sub-runs|!!HARNESS!!\n=====isa results=====\n isa      |    run 1    run 2 |      avg |  max/min\n===================================================\n sse2     |   226.10   220.00 |   223.05 |    2.77%%\n fma      |      ---   230.00 |   230.00 |    0.00%%\n avx512f  |      ---      --- |      --- |      ---\npress enter to exit\n|isa\nsse2\t223.05\t220\t226.1\t2.77%%\nfma\t230.00\t230\t230\t0.00%%\navx512f\t0\t0\t0\tno score\n"
  "size sweep, one sub-run|=====size results=====\n size     |    run 1 |      avg |  max/min\n==========================================\n 64       |   300.00 |   300.00 |    0.00%%\n 192      |   120.50 |   120.50 |    0.00%%\n\n|size\n64\t300.00\t300\t300\t0.00%%\n192\t120.50\t120.5\t120.5\t0.00%%\n"
  "saved on Windows (CRLF)|=====threads results=====\r\n threads  |    run 1    run 2 |      avg |  max/min\r\n===================================================\r\n 1        |   100.00   110.00 |   105.00 |   10.00%%\r\n|threads\n1\t105.00\t100\t110\t10.00%%\n"
  "the last of two tables|=====size results=====\n size     |    run 1 |      avg |  max/min\n==========================================\n 64       |   1.00 |   1.00 |    0.00%%\n=====none results=====\n none     |    run 1 |      avg |  max/min\n==========================================\n none     |   2.00 |   2.00 |    0.00%%\n|none\nnone\t2.00\t2\t2\t0.00%%\n"
  "no sub-runs at all|=====isa results=====\n isa      | |      avg |  max/min\n=================================\n sse2     | |      --- |      ---\n|isa\nsse2\t0\t0\t0\tno score\n"
  "no results table|!!HARNESS!! run values:\nsse2\n|FAIL"
  "header without rows|=====isa results=====\n isa      |    run 1 |      avg |  max/min\n==========================================\n|FAIL"
)

for c in "${cases[@]}"; do
    # The input itself contains '|': it is everything between the first and the last one.
    name=${c%%|*}
    input=${c#*|}
    input=${input%|*}
    expected=${c##*|}
    printf "$input" > "$work/in.txt"
    if out=$(bash "$script" --data "$work/in.txt" 2>/dev/null); then
        got=$(printf '%s\n' "$out")
    else
        got=FAIL
    fi
    if [[ $expected == FAIL ]]; then
        want=FAIL
    else
        want=$(printf "$expected")
    fi
    if [[ $got != "$want" ]]; then
        echo "FAIL: $name"
        echo "  expected: $(printf '%q' "$want")"
        echo "  got:      $(printf '%q' "$got")"
        failures=$((failures + 1))
    fi
done

if command -v gnuplot >/dev/null; then
    printf '=====isa results=====\n isa      |    run 1 |      avg |  max/min\n==========================================\n sse2     |   226.10 |   226.10 |    0.00%%\n' > "$work/in.txt"
    if ! bash "$script" "$work/in.txt" "$work/chart.png" > /dev/null ||
        [[ $(head -c 8 "$work/chart.png" | od -An -tx1 | tr -d ' \n') != 89504e470d0a1a0a ]]; then
        echo "FAIL: chart is not a PNG"
        failures=$((failures + 1))
    fi
fi
bash "$script" > /dev/null 2>&1
if [[ $? -ne 2 ]]; then
    echo "FAIL: usage error does not exit with 2"
    failures=$((failures + 1))
fi
exit $(( failures > 0 ))
