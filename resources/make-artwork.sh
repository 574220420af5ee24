#!/bin/sh
# Regenerates the files kept in this folder: icon.png, logo.png and KAVOTEST.MP3.
# Not part of the build; run it by hand after changing the artwork or the test sound,
# then commit the results.
#
# Needs: g++, pkg-config and the Qt 6 Gui development files (already there for the
# build), and for the sound: apt-get install -y espeak-ng sox lame
set -eu

here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# --- icon.png and logo.png: drawn by a small Qt program -----------------------------
# shellcheck disable=SC2046  # pkg-config's output is meant to split into words
g++ -std=c++20 -O1 -fPIC -o "$work/make-artwork" "$here/make-artwork.cpp" \
    $(pkg-config --cflags --libs Qt6Gui)
XDG_RUNTIME_DIR="$work" QT_QPA_PLATFORM=offscreen "$work/make-artwork" "$here"

# --- KAVOTEST.MP3: a short chime, then the words "Kavo test" ------------------------
# Mono, 22.05 kHz, 32 kbit/s: under four seconds in about 15 KB.
rate=22050
sox -R -n -r "$rate" -c 1 -b 16 "$work/chime.wav" \
    synth 0.35 sine 880 fade q 0.01 0.35 0.2 vol 0.5
sox -R -n -r "$rate" -c 1 -b 16 "$work/gap.wav" trim 0 0.25
espeak-ng -v en -s 150 -w "$work/speech-raw.wav" "Kavo test. One, two, three."
# Resampled, evened out, and without the voice's trailing silence.
sox -R "$work/speech-raw.wav" -r "$rate" -c 1 -b 16 "$work/speech.wav" \
    norm -1 reverse silence 1 0.02 0.5% reverse
# Chime, pause, words, a moment of quiet; trim keeps the whole under 4 seconds.
sox -R -V1 "$work/chime.wav" "$work/gap.wav" "$work/speech.wav" "$work/gap.wav" \
    "$work/joined.wav" trim 0 3.9
lame --quiet -m m -b 32 --resample 22.05 --noreplaygain \
    "$work/joined.wav" "$here/KAVOTEST.MP3"

ls -l "$here/icon.png" "$here/logo.png" "$here/KAVOTEST.MP3"
