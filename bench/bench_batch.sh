#!/bin/sh
# Batch throughput: 8 one-minute 44.1 kHz 16-bit stereo files rendered one by one, then with
# one batch command (-j, default one per core). Prints both times and their ratio, and checks
# that both ways give the same bytes.
#   bench/bench_batch.sh [path/to/marlowin-render] [jobs]
set -eu

here=$(cd "$(dirname "$0")" && pwd)
render=${1:-"$here/../build/bin/marlowin-render"}
jobs=${2:-$(nproc)}
[ -x "$render" ] || { echo "bench_batch: no renderer at $render (build first, or pass its path)" >&2; exit 2; }
command -v sox >/dev/null || { echo "bench_batch: sox is needed to make the test files" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/marlowin-bench-batch.XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM
mkdir "$work/in" "$work/single" "$work/batch"

i=0
while [ $i -lt 8 ]; do
    sox -n -r 44100 -c 2 -b 16 "$work/in/song$i.wav" \
        synth 60 sine $((220 + 55 * i)) pinknoise vol 0.5 2>/dev/null
    i=$((i + 1))
done

now() { date +%s.%N; }

start=$(now)
for f in "$work"/in/*.wav; do
    "$render" -q "$f" "$work/single/$(basename "$f")"
done
single=$(awk -v a="$(now)" -v b="$start" 'BEGIN { print a - b }')

start=$(now)
"$render" -q -j "$jobs" -o "$work/batch" "$work"/in/*.wav
batch=$(awk -v a="$(now)" -v b="$start" 'BEGIN { print a - b }')

for f in "$work"/single/*.wav; do
    cmp -s "$f" "$work/batch/$(basename "$f")" || { echo "bench_batch: $(basename "$f") differs" >&2; exit 1; }
done

printf 'one by one:        %.3f s (8 files of 1 minute)\n' "$single"
printf 'batch, -j %-3s      %.3f s\n' "$jobs" "$batch"
printf 'speed-up:          %.2fx (outputs identical)\n' "$(awk -v a="$single" -v b="$batch" 'BEGIN { print a / b }')"
