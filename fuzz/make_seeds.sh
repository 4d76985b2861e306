#!/usr/bin/env bash
# Makes the fuzz targets' seed set into the folder given as $1 with the ffmpeg command-line
# tool: one small file (a few kilobytes) per container the program meets most. Files that exist
# already are kept.
set -euo pipefail
out=${1:?usage: make_seeds.sh FOLDER}
mkdir -p "$out"
cd "$out"

ff() { ffmpeg -nostdin -hide_banner -loglevel error -y "$@"; }
picture=(-f lavfi -i "testsrc=size=32x24:rate=5:duration=0.6")
tone=(-f lavfi -i "sine=frequency=440:sample_rate=8000:duration=0.5")
seed() { # seed NAME ffmpeg-arguments...
    local name=$1
    shift
    [ -s "$name" ] || ff "$@" -fflags +bitexact "$name"
}

seed seed.wav "${tone[@]}" -c:a pcm_u8
seed seed.flac "${tone[@]}" -c:a flac
seed seed.mp3 "${tone[@]}" -c:a libmp3lame -b:a 8k
seed seed.ogg "${tone[@]}" -c:a libvorbis -q:a 0
seed seed.mp4 "${picture[@]}" "${tone[@]}" -c:v libx264 -preset ultrafast -g 2 -c:a aac -b:a 16k \
    -shortest
seed seed.mkv "${picture[@]}" "${tone[@]}" -c:v mpeg4 -q:v 20 -c:a libopus -b:a 8k -shortest
seed seed.avi "${picture[@]}" "${tone[@]}" -c:v mpeg4 -q:v 20 -c:a libmp3lame -b:a 8k -shortest
seed seed.ts "${picture[@]}" "${tone[@]}" -c:v mpeg2video -q:v 20 -c:a mp2 -b:a 32k -shortest
