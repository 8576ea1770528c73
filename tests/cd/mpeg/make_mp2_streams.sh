#!/usr/bin/env bash
# Encodes short layer II streams with twolame and ffmpeg and decodes each with
# mpg123 as the reference:
#   OUT/NAME.bit    the stream
#   OUT/NAME.pcm    mpg123's output, 16-bit little-endian interleaved stereo
#   make_mp2_streams.sh OUT [NAME...]   (all cases without names)
set -euo pipefail
out=$1
shift
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Tones, noise and a wide stereo image so every sub-band gets bits; the
# second source differs most between channels at high frequencies, which
# makes twolame pick intensity stereo for some frames.
music="0.3*sin(2*PI*440*t)+0.2*sin(2*PI*3150*t)*sin(2*PI*3*t)+0.1*(random(0)-0.5)|0.3*sin(2*PI*660*t)+0.15*sin(2*PI*7000*t)+0.05*(random(1)-0.5)"
wide="0.3*sin(2*PI*440*t)+0.2*sin(2*PI*5150*t)|0.05*sin(2*PI*660*t)+0.3*sin(2*PI*9000*t)"

source() { # name, expression, rate, seconds
    ffmpeg -v error -y -f lavfi -i "aevalsrc=$2:s=$3:d=$4" -ac 2 "$work/$1.wav"
}

# name: encoder, source, rate, options
declare -A cases=(
    [mono44]="twolame music 44100 -b 96 -m m"
    [mono44low]="twolame music 44100 -b 48 -m m"
    [stereo48]="twolame music 48000 -b 256 -m s"
    [joint44]="twolame wide 44100 -b 96 -m j"
    [joint224]="twolame music 44100 -b 224 -m j"
    [dual32]="twolame music 32000 -b 192 -m d"
    [joint16]="twolame wide 16000 -b 64 -m j"
    [stereo22]="twolame music 22050 -b 96 -m s"
    [mono24]="twolame music 24000 -b 32 -m m"
    [ffstereo44]="ffmpeg music 44100 -b:a 192k"
    [ffstereo24]="ffmpeg music 24000 -b:a 64k"
    [ffmono32]="ffmpeg music 32000 -ac 1 -b:a 32k"
)

names=("$@")
[ ${#names[@]} -eq 0 ] && names=("${!cases[@]}")
for name in "${names[@]}"; do
    read -r encoder signal rate options <<<"${cases[$name]}"
    expression=$music
    [ "$signal" = wide ] && expression=$wide
    source "$name" "$expression" "$rate" 1
    # shellcheck disable=SC2086
    if [ "$encoder" = twolame ]; then
        twolame --quiet $options "$work/$name.wav" "$out/$name.bit"
    else
        ffmpeg -v error -y -i "$work/$name.wav" -c:a mp2 $options -f mp2 "$out/$name.bit"
    fi
    mpg123 -q --stereo -s "$out/$name.bit" >"$out/$name.pcm"
done
