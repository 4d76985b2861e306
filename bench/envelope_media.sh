#!/usr/bin/env bash
# Makes the two-hour inputs of envelope_bench in <build>/bench-media (kept between runs): an mp3
# (44.1 kHz stereo, 128 kbit/s) and an H.264 160x120 + AAC (44.1 kHz stereo, 128 kbit/s) mp4,
# both a minute of tones under noise with a slow swell, looped to two hours.
set -euo pipefail
MEDIA=$(cd "${1:-$(dirname "$0")/../build/release}" && pwd)/bench-media
mkdir -p "$MEDIA"
ff=(ffmpeg -nostdin -hide_banner -loglevel error -y)
piece="$MEDIA/envelope_piece_60s.wav"
[ -s "$piece" ] || "${ff[@]}" \
    -f lavfi -i "sine=frequency=440:sample_rate=44100:duration=60" \
    -f lavfi -i "sine=frequency=660:sample_rate=44100:duration=60" \
    -f lavfi -i "anoisesrc=color=pink:amplitude=0.05:sample_rate=44100:duration=60" \
    -filter_complex "[0][1]amerge=inputs=2,volume=0.3,volume='0.5+0.5*sin(2*PI*t/20)':eval=frame[t];[t][2]amix=inputs=2:normalize=0" \
    -ac 2 "$piece"
mp3="$MEDIA/envelope_2h.mp3"
[ -s "$mp3" ] || { "${ff[@]}" -stream_loop 119 -i "$piece" -c:a libmp3lame -b:a 128k \
    "$MEDIA/making.mp3" && mv "$MEDIA/making.mp3" "$mp3"; }
mp4="$MEDIA/envelope_2h_h264_aac.mp4"
[ -s "$mp4" ] || { "${ff[@]}" -f lavfi -i "testsrc2=size=160x120:rate=10:duration=7200" \
    -stream_loop 119 -i "$piece" -c:v libx264 -preset veryfast -g 10 -pix_fmt yuv420p \
    -c:a aac -b:a 128k -shortest "$MEDIA/making.mp4" && mv "$MEDIA/making.mp4" "$mp4"; }
echo "$mp3"
echo "$mp4"
