#!/bin/sh
# Makes the two result sounds the station plays from its program directory:
#   alarm.wav    a two-tone alarm (880 Hz / 660 Hz, three times), about 1.5 s
#   a-tadam.wav  a short rising chime (C6 E6 G6 C7), about 0.8 s
# Both 44100 Hz, 16-bit PCM, mono. Usage: make-sounds.sh OUTDIR
set -eu

if [ $# -ne 1 ]; then
  echo "usage: $0 OUTDIR" >&2
  exit 2
fi
out=$1
command -v sox >/dev/null 2>&1 || { echo "make-sounds: sox is not installed" >&2; exit 1; }
mkdir -p "$out"

work=$(mktemp -d "$out/.make-sounds.XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM

fmt="-r 44100 -b 16 -c 1"

# note FILE SECONDS FREQ: one sine note with soft edges.
note() {
  sox -n $fmt "$1" synth "$2" sine "$3" fade t 0.01 "$2" 0.03
}

# Alarm: high-low twice per second, three times.
parts=""
for i in 1 2 3; do
  note "$work/hi$i.wav" 0.25 880
  note "$work/lo$i.wav" 0.25 660
  parts="$parts $work/hi$i.wav $work/lo$i.wav"
done
# shellcheck disable=SC2086
sox $parts $fmt "$work/alarm.wav" gain -n -3

# Chime: four rising notes, the last one ringing out.
note "$work/c1.wav" 0.12 1046.5
note "$work/c2.wav" 0.12 1318.5
note "$work/c3.wav" 0.12 1568.0
sox -n $fmt "$work/c4.wav" synth 0.45 sine 2093.0 fade t 0.01 0.45 0.35
sox "$work/c1.wav" "$work/c2.wav" "$work/c3.wav" "$work/c4.wav" $fmt "$work/a-tadam.wav" gain -n -4

# Move into place only when both are made, so a failed run leaves no half file.
mv -f "$work/alarm.wav" "$out/alarm.wav"
mv -f "$work/a-tadam.wav" "$out/a-tadam.wav"
echo "make-sounds: wrote $out/alarm.wav and $out/a-tadam.wav"
