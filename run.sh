#!/usr/bin/env bash
# Installs what is missing, builds in Release and starts the program. Without a display it
# checks the libraries and converts a demo clip with soundpick-cli instead.
set -euo pipefail
cd "$(dirname "$0")"
./tools/setup-deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/release -j "$(nproc)"
bin=build/release/bin
if [ -x "$bin/soundpick" ] && [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    exec "$bin/soundpick" "$@"
fi
"$bin/soundpick-check"

# The demo clip: 5 s of a test picture with a 440 Hz tone, made by the ffmpeg tool.
demo=build/demo
mkdir -p "$demo"
if [ ! -s "$demo/demo.mp4" ]; then
    ffmpeg -nostdin -hide_banner -loglevel error -y \
        -f lavfi -i "testsrc=size=320x240:rate=25:duration=5" \
        -f lavfi -i "sine=frequency=440:sample_rate=44100:duration=5" \
        -c:v mpeg4 -q:v 5 -c:a aac -b:a 96k -shortest "$demo/demo.mp4"
fi
echo "Converting the demo clip $demo/demo.mp4 to mp3 with soundpick-cli:"
output=$("$bin/soundpick-cli" --overwrite "$demo/demo.mp4")
echo "The sound went to: $output"
