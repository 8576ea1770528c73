#!/usr/bin/env bash
# A one-second Video CD: a test picture with a 440 Hz tone on the left and
# 660 Hz on the right, muxed by ffmpeg and imaged by vcdimager.
#   make_vcd.sh OUT   (writes OUT/vcd.cue and OUT/vcd.bin)
set -euo pipefail
out=$1
mkdir -p "$out"
cd "$out"
ffmpeg -v error -y -f lavfi -i "testsrc=size=352x240:rate=30000/1001:d=1" \
    -f lavfi -i "aevalsrc=0.4*sin(2*PI*440*t)|0.4*sin(2*PI*660*t):s=44100:d=1" \
    -target ntsc-vcd -shortest movie.mpg
vcdimager --type=vcd2 --cue-file=vcd.cue --bin-file=vcd.bin movie.mpg >/dev/null
rm -f movie.mpg
