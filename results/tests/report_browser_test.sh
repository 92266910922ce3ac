#!/usr/bin/env bash
# The report page in a real browser: records imported from real captures, the page made, then
# opened in headless chromium. It must render (a screenshot), hold its SVG charts after the
# browser has built the DOM, and name nothing outside itself.
# Usage: report_browser_test.sh KESTRIX_RESULTS DATA_DIR    (exit 77 = skipped)
set -euo pipefail
bin=$1
data=$2
browser=$(command -v chromium || command -v chromium-browser || true)
if [[ -z $browser ]]; then
    echo "skipped: chromium not installed (apt-get install chromium)"
    exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

"$bin" import --out "$work/rec" --label threads "$data/sweep_threads.log" >/dev/null 2>&1
"$bin" import --out "$work/rec" --label isa "$data/sweep_isa.log" >/dev/null 2>&1
"$bin" import --out "$work/rec" --label linux "$data/plain_standing_wave.log" >/dev/null 2>&1
"$bin" import --out "$work/rec" --label wine "$data/windows_plain.log" >/dev/null 2>&1
mapfile -t records < <(ls "$work"/rec/*.json)
[[ ${#records[@]} -eq 4 ]] || fail "expected 4 records, got ${#records[@]}"
# A record of `run` (two 12 s sub-runs): its score over time is drawn.
records+=("$data/timeline_run.json")
# A record of `run` on a replayed laptop with every sensor series: drawn as small multiples.
records+=("$data/sensors_run.json")
"$bin" report "${records[@]}" -o "$work/report.html" 2>/dev/null || fail "report exited $?"
page="$work/report.html"

# Self-contained: no URL, no external resource of any kind.
if grep -Eiq 'https?:|<script|<link|<img|<iframe|@import|url\(|src=|href=' "$page"; then
    grep -Eio '.{0,30}(https?:|<script|<link|<img|<iframe|@import|url\(|src=|href=).{0,30}' "$page" | head -3 >&2
    fail "the page names something outside itself"
fi

flags=(--headless --no-sandbox --disable-gpu --disable-background-networking --disable-component-update
       --disable-sync --no-first-run --disable-extensions --user-data-dir="$work/profile")
timeout 120 "$browser" "${flags[@]}" --dump-dom "file://$page" > "$work/dom.html" 2>"$work/dom.err" ||
    fail "chromium --dump-dom failed: $(tail -n 3 "$work/dom.err")"
charts=$(grep -o '<svg class="chart"' "$work/dom.html" | wc -l)
[[ $charts -eq 4 ]] ||
    fail "expected 4 charts in the DOM (threads, isa, repeated runs, score over time), found $charts"
[[ $(grep -o 'class="timeline"' "$work/dom.html" | wc -l) -eq 2 ]] ||
    fail "expected the score over time of 2 sub-runs"
grep -q 'class="drift"' "$work/dom.html" || fail "no drift windows in the score over time"
grep -q 'class="series"' "$work/dom.html" || fail "no scaling line in the threads chart"
grep -q 'class="ideal"' "$work/dom.html" || fail "no ideal line in the threads chart"
grep -q 'class="bar"' "$work/dom.html" || fail "no bars in the bar charts"
grep -q 'class="system"' "$work/dom.html" || fail "no system blocks"
[[ $(grep -o '<svg class="chart sensors"' "$work/dom.html" | wc -l) -eq 1 ]] ||
    fail "expected the score and sensors of 1 record as small multiples"
[[ $(grep -o 'class="panel"' "$work/dom.html" | wc -l) -eq 4 ]] ||
    fail "expected 4 panels (score, clock, temperature, power)"
grep -q 'class="throttle"' "$work/dom.html" || fail "no throttle mark among the sensors"

timeout 120 "$browser" "${flags[@]}" --window-size=1280,2400 --screenshot="$work/shot.png" "file://$page" \
    >/dev/null 2>"$work/shot.err" || fail "chromium --screenshot failed: $(tail -n 3 "$work/shot.err")"
size=$(stat -c %s "$work/shot.png" 2>/dev/null || echo 0)
[[ $size -gt 20000 ]] || fail "screenshot too small ($size bytes): the page did not render"
if [[ -n ${KX_REPORT_SCREENSHOT:-} ]]; then
    cp "$work/shot.png" "$KX_REPORT_SCREENSHOT"
    cp "$page" "${KX_REPORT_SCREENSHOT%.png}.html"
fi
echo "ok: $charts charts, screenshot $size bytes"
