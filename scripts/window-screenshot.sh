#!/bin/bash
# Starts the real window under a virtual X server, opens a generated WAV file through the
# open dialog, plays it a moment and closes it, taking a screenshot at each step.
# Usage: scripts/window-screenshot.sh <build-dir> [output-dir]
# Needs xvfb-run, ImageMagick's import, xdotool and sox.
set -euo pipefail
build=$(realpath "${1:?build directory}")
out=$(realpath -m "${2:-$build/screenshots}")
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
sox -n -r 44100 -c 2 -b 16 "$work/song.wav" synth 4 sine 440 sine 660 remix 1,2 2 2>/dev/null \
  || sox -n -r 44100 -c 2 -b 16 "$work/song.wav" synth 4 sine 440

cat > "$work/drive.sh" <<'INNER'
#!/bin/bash
set -u
build=$1 out=$2 work=$3
export HOME=$work XDG_CONFIG_HOME=$work/config SDL_AUDIODRIVER=dummy
mkdir -p "$work/Documents"
"$build/bin/marlowin" & pid=$!
win=""
for _ in $(seq 50); do
  win=$(xdotool search --pid "$pid" --name "マーロウィン" 2>/dev/null | head -1) && [ -n "$win" ] && break
  sleep 0.2
done
[ -n "$win" ] || { echo "window did not appear"; kill "$pid"; exit 1; }
sleep 1
import -window root "$out/start.png"
click() { xdotool mousemove --window "$win" "$1" "$2" click 1; sleep "${3:-0.5}"; }
click 564 39 1.5                            # OpenFileButton
import -window root "$out/open-dialog.png"
xdotool type --delay 20 "$work/song.wav"; xdotool key Return; sleep 1.5
click 300 455 0.3                           # empty space: closes the dialog's completer popup
import -window root "$out/loaded.png"
click 57 104 1.5                            # PlayButton
import -window root "$out/playing.png"
click 57 104 0.5                            # pause
click 571 485 1                             # ExitButton
wait "$pid"; echo "exit code $?"
cat "$work/config/Tarvek/Marlowin/Marlowin.ini"
INNER
chmod +x "$work/drive.sh"
xvfb-run -a -s "-screen 0 1024x768x24" "$work/drive.sh" "$build" "$out" "$work"
echo "screenshots in $out"
