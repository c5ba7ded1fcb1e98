#!/usr/bin/env bash
# Times marlowin-render against the nearest sox pipeline on the same 5-minute 44.1 kHz
# 16-bit stereo file, and reports peak memory for 1 and 5 minutes (it must not grow).
#   bash bench/render_vs_sox.sh [BIN_DIR]
set -euo pipefail
bin=${1:-build/bin}
render=$(realpath "$bin/marlowin-render")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

sox -n -r 44100 -b 16 -c 2 five.wav synth 300 sine 220 sine 330 2>/dev/null
sox -n -r 44100 -b 16 -c 2 one.wav synth 60 sine 220 sine 330 2>/dev/null

now() { date +%s.%N; }
best_of() {  # best_of N command...: the fastest of N runs, in seconds
    local n=$1 best=""
    shift
    for _ in $(seq "$n"); do
        local t0 t1 d
        t0=$(now); "$@" >/dev/null 2>&1; t1=$(now)
        d=$(echo "$t1 - $t0" | bc -l)
        if [ -z "$best" ] || [ "$(echo "$d < $best" | bc -l)" = 1 ]; then best=$d; fi
    done
    echo "$best"
}

# The same work in sox: difference, both filters on the mono sum, the mix, normalisation.
sox_pipeline() {
    sox five.wav -t wav diff.wav remix 1v0.5,2v-0.5
    sox five.wav -t wav mid.wav remix 1v0.5,2v0.5
    sox mid.wav -t wav low.wav lowpass 200
    sox mid.wav -t wav high.wav highpass 7962
    sox -m -v 0.7025 diff.wav -v 0.14875 low.wav -v 0.14875 high.wav -b 16 out-sox.wav gain -n
}

ours=$(best_of 3 "$render" -q five.wav out.wav)
theirs=$(best_of 3 sox_pipeline)
printf 'marlowin-render, 5 min: %.3f s\n' "$ours"
printf 'sox pipeline,    5 min: %.3f s\n' "$theirs"
printf 'speed-up: %.1fx\n' "$(echo "$theirs / $ours" | bc -l)"

rss() { /usr/bin/time -f '%M' "$@" 2>&1 >/dev/null | tail -1; }
if [ -x /usr/bin/time ]; then
    printf 'peak RSS, 1 min: %s KiB; 5 min: %s KiB\n' "$(rss "$render" -q one.wav o1.wav)" "$(rss "$render" -q five.wav o5.wav)"
fi
