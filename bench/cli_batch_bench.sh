#!/usr/bin/env bash
# Batch speed of soundpick-cli: eight ten-minute videos (sound: 44.1 kHz stereo AAC) to 128 kbit/s
# mp3 with one and with two jobs, against the ffmpeg tool converting them one after another.
# Usage: bench/cli_batch_bench.sh BUILD-DIR [WORK-DIR]   (BUILD-DIR holds bin/soundpick-cli)
set -euo pipefail
build=${1:?usage: cli_batch_bench.sh BUILD-DIR [WORK-DIR]}
cli=$(cd "$build" && pwd)/bin/soundpick-cli
work=${2:-$(mktemp -d)}
mkdir -p "$work/in"
cd "$work"

# One ten-minute input (small picture, so that the time goes to the sound), linked eight times.
if [ ! -s in/source.mp4 ]; then
    ffmpeg -nostdin -hide_banner -loglevel error -y \
        -f lavfi -i "testsrc=size=160x120:rate=25:duration=600" \
        -f lavfi -i "sine=frequency=440:sample_rate=44100:duration=600" \
        -c:v mpeg4 -q:v 10 -c:a aac -b:a 128k -ac 2 -shortest in/source.mp4
fi
inputs=()
for i in 1 2 3 4 5 6 7 8; do
    ln -f in/source.mp4 "in/input$i.mp4"
    inputs+=("in/input$i.mp4")
done

seconds() { # seconds COMMAND...: wall-clock time of a command
    local start end
    start=$(date +%s.%N)
    "$@" >/dev/null 2>&1
    end=$(date +%s.%N)
    echo "$end - $start" | bc
}

for jobs in 1 2; do
    rm -rf "out$jobs" && mkdir "out$jobs"
    t=$(seconds "$cli" -q -b 128 -j "$jobs" -o "out$jobs" "${inputs[@]}")
    echo "soundpick-cli --jobs $jobs: $t s"
done
rm -rf outff && mkdir outff
ffmpeg_all() {
    for input in "${inputs[@]}"; do
        ffmpeg -nostdin -loglevel error -y -i "$input" -vn -c:a libmp3lame -b:a 128k \
            "outff/$(basename "$input" .mp4).mp3"
    done
}
t=$(seconds ffmpeg_all)
echo "ffmpeg one after another: $t s"
