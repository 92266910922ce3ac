#!/usr/bin/env bash
# Turns the results table of a saved kestrix harness run into a PNG bar chart: one bar per
# sweep point at its average score, an error bar from the worst to the best sub-run, and the
# spread written above it. Works for any sweep variable (none, size, duration, threads, isa).
#
#   kestrix --harness-var isa --harness-opt sse2,fma,avx512f -s 64 -d 2 < /dev/null | tee run.txt
#   tools/plot-harness.sh run.txt chart.png ["title"]
#   tools/plot-harness.sh --data run.txt      # only the parsed table (label, avg, min, max, spread)
#
# The last results table in the file is used. Needs gnuplot (Debian: gnuplot-nox).
set -euo pipefail

usage() {
    echo "usage: $0 HARNESS_OUTPUT CHART.png [TITLE] | $0 --data HARNESS_OUTPUT" >&2
    exit 2
}

# Prints the variable name, then one tab-separated line per run: label, average, lowest and
# highest sub-run score, spread text. Sub-runs without a score ("---") are left out; a run
# without any score gets 0 0 0 and "no score".
parse_table() {
    awk '
        /^=====.* results=====\r?$/ {
            var = $0
            sub(/^=====/, "", var)
            sub(/ results=====\r?$/, "", var)
            n = 0; state = 1; next
        }
        state == 1 { state = 2; next }            # header line
        state == 2 && /^=+\r?$/ { state = 3; next } # rule under the header
        state == 3 {
            line = $0
            sub(/\r$/, "", line)
            if (split(line, part, "|") != 4) { state = 0; next }
            label = part[1]; gsub(/^ +| +$/, "", label)
            cells = split(part[2], s, " ")
            lo = ""; hi = ""
            for (i = 1; i <= cells; i++) {
                if (s[i] == "---") continue
                v = s[i] + 0
                if (lo == "" || v < lo) lo = v
                if (hi == "" || v > hi) hi = v
            }
            avg = part[3]; gsub(/ /, "", avg)
            spread = part[4]; gsub(/ /, "", spread)
            if (avg == "---" || lo == "") { avg = 0; lo = 0; hi = 0; spread = "no score" }
            n++
            rows[n] = label "\t" avg "\t" lo "\t" hi "\t" spread
            names = var
            next
        }
        END {
            if (names == "" || n == 0) exit 1
            print names
            for (i = 1; i <= n; i++) print rows[i]
        }
    ' "$1"
}

if [[ $# -ge 1 && $1 == --data ]]; then
    [[ $# -eq 2 ]] || usage
    parse_table "$2" || { echo "no harness results table in $2" >&2; exit 1; }
    exit 0
fi
[[ $# -ge 2 && $# -le 3 ]] || usage
input=$1
output=$2
command -v gnuplot >/dev/null || { echo "gnuplot not found (apt-get install gnuplot-nox)" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
parse_table "$input" > "$work/table" || { echo "no harness results table in $input" >&2; exit 1; }
variable=$(head -n 1 "$work/table")
tail -n +2 "$work/table" > "$work/data"
rows=$(wc -l < "$work/data")
title=${3:-"kestrix harness: score per ${variable}"}
# gnuplot string literal: keep the title printable and free of quotes.
title=${title//[^[:alnum:] ,.:=()\/+_%-]/}
width=$(( rows * 90 + 200 ))
(( width < 640 )) && width=640

gnuplot <<EOF
set terminal pngcairo size ${width},480 font "sans,10"
set output "${output}"
set datafile separator "\t"
set title "${title}"
set xlabel "${variable}"
set ylabel "MGups (average of the sub-runs)"
set yrange [0:*]
set offsets 0.5, 0.5, 0, 0
set grid ytics
set boxwidth 0.6
set style fill solid 0.6 border -1
set key outside top center horizontal
stats "$work/data" using 4 nooutput
set yrange [0:STATS_max * 1.18 + 1]
plot "$work/data" using 0:2:xtic(1) with boxes lc rgb "#4878a8" title "average", \
     "" using 0:2:3:4 with yerrorbars lc rgb "#202020" lw 1.5 pt 7 ps 0.5 title "worst to best sub-run", \
     "" using 0:(\$4 + STATS_max * 0.02):(strcol(5) eq "no score" ? "no score" : \
        sprintf("%s\nspread %s", strcol(2), strcol(5))) with labels offset 0,1.6 notitle
EOF
echo "wrote ${output} (${rows} points of ${variable})"
