#!/usr/bin/env bash
# Peak memory of marlowin-render for a 1-minute and a 1-hour source (44.1 kHz 16-bit
# stereo): the render streams block by block, so the two must be about the same.
# The 1-hour source is 635 MB; it is made in a temporary folder and deleted afterwards.
#   bash bench/longrun.sh [BIN_DIR]        LONGRUN_MINUTES=N changes the long source's length
set -euo pipefail
bin=${1:-build/bin}
render=$(realpath "$bin/marlowin-render")
minutes=${LONGRUN_MINUTES:-60}
work=$(mktemp -d "${TMPDIR:-/tmp}/marlowin-longrun-XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"

if [ ! -x /usr/bin/time ]; then
    echo "longrun: /usr/bin/time is missing (Debian package 'time')" >&2
    exit 1
fi

# Peak resident set in KiB and wall time in seconds of one render; the output goes too.
measure() {  # measure SOURCE LABEL
    /usr/bin/time -f '%M %e' -o time.txt "$render" -q "$1" out.wav
    read -r kib seconds < time.txt
    rm -f out.wav
    printf '%-9s %8s KiB peak RSS  %7s s\n' "$2" "$kib" "$seconds"
    echo "$kib"  > "rss-$2"
}

sox -n -r 44100 -b 16 -c 2 short.wav synth 60 sine 220 sine 330 2>/dev/null
measure short.wav "1 min"
rm -f short.wav

sox -n -r 44100 -b 16 -c 2 long.wav synth $((minutes * 60)) sine 220 sine 330 2>/dev/null
printf '(%d-minute source: %s bytes)\n' "$minutes" "$(stat -c %s long.wav)"
measure long.wav "$minutes min"
rm -f long.wav

short=$(cat "rss-1 min")
long=$(cat "rss-$minutes min")
# Within 10 % (and 2 MiB of slack for allocator noise): memory does not grow with length.
if [ "$long" -gt $((short + short / 10 + 2048)) ]; then
    echo "longrun: peak memory grew with the source's length" >&2
    exit 1
fi
echo "peak memory does not grow with the source's length"
