# Shared pieces of the benchmarks that race soundpick-cli against the ffmpeg command-line tool:
# the build folder, the generated input, timed runs (wall time from the clock, peak memory and
# CPU time from /usr/bin/time), medians and a check of each output with ffprobe.
# Sourced by the *_vs_cli.sh scripts; BENCH_SECONDS shortens the input for a trial run.

set -euo pipefail

BENCH_REPO=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD_DIR=$(cd "${1:-$BENCH_REPO/build/release}" && pwd)
CLI="$BUILD_DIR/bin/soundpick-cli"
MEDIA="$BUILD_DIR/bench-media"
WORK="$BUILD_DIR/bench-work"
BENCH_SECONDS=${BENCH_SECONDS:-600}
TIMER=/usr/bin/time

for tool in "$CLI" ffmpeg ffprobe "$TIMER"; do
    command -v "$tool" >/dev/null || {
        echo "missing: $tool (build soundpick-cli; tools/setup-deps.sh; apt-get install time)" >&2
        exit 1
    }
done
mkdir -p "$MEDIA" "$WORK"

# The input: H.264 160x120 at 10 fps (a key frame every second) with AAC 44.1 kHz stereo at
# 128 kbit/s: a different tone in each channel under some noise, so the encoders have real work.
# Made once per length and kept in the build tree.
make_input() {
    local seconds=$1
    local file="$MEDIA/h264_aac_160x120_${seconds}s.mp4"
    if [ ! -s "$file" ]; then
        echo "making $file" >&2
        ffmpeg -nostdin -hide_banner -loglevel error -y \
            -f lavfi -i "testsrc2=size=160x120:rate=10:duration=$seconds" \
            -f lavfi -i "aevalsrc=0.3*sin(2*PI*440*t)+0.1*(random(0)*2-1)|0.3*sin(2*PI*660*t)+0.1*(random(1)*2-1):s=44100:d=$seconds" \
            -c:v libx264 -preset veryfast -g 10 -pix_fmt yuv420p -c:a aac -b:a 128k -ac 2 \
            -shortest "$MEDIA/making.mp4"
        mv "$MEDIA/making.mp4" "$file"
    fi
    echo "$file"
}

# Runs a command once and appends "wall_s maxrss_kb cpu_s" to $WORK/<label>.runs (cpu: user +
# system time of the process and its children).
# Standard output and error of the command go to $WORK/<label>.log; a failure ends the bench.
timed() {
    local label=$1
    shift
    local start end
    start=$(date +%s%N)
    if ! "$TIMER" -f "%M %U %S" -o "$WORK/$label.rusage" "$@" >>"$WORK/$label.log" 2>&1; then
        echo "FAILED: $* (see $WORK/$label.log)" >&2
        exit 1
    fi
    end=$(date +%s%N)
    local rusage
    rusage=$(tail -n 1 "$WORK/$label.rusage")
    awk -v ns=$((end - start)) -v r="$rusage" \
        'BEGIN { split(r, f, " "); printf "%.3f %d %.2f\n", ns / 1e9, f[1], f[2] + f[3] }' \
        >>"$WORK/$label.runs"
}

reset_runs() {
    rm -f "$WORK/$1.runs" "$WORK/$1.log" "$WORK/$1.rusage"
}

# The median of column $2 of the runs of label $1 (the upper middle one for an even count).
median() {
    sort -g -k "$2,$2" "$WORK/$1.runs" | awk -v c="$2" '{ v[NR] = $c } END { print v[int(NR / 2) + 1] }'
}

# The largest value of column $2 of the runs of label $1.
largest() {
    sort -g -k "$2,$2" "$WORK/$1.runs" | tail -n 1 | awk -v c="$2" '{ print $c }'
}

# Prints "codec rate channels duration" of the first audio stream of a file.
describe_audio() {
    local codec rate channels duration
    IFS=, read -r codec rate channels < <(ffprobe -v error -select_streams a:0 \
        -show_entries stream=codec_name,sample_rate,channels -of csv=p=0 "$1")
    # The end of the last packet: raw streams (adts) only have an estimate from the bit rate.
    duration=$(ffprobe -v error -select_streams a:0 -show_entries packet=pts_time,duration_time \
        -of csv=p=0 "$1" | awk -F, 'NF { end = $1 + $2 } END { printf "%.6f", end }')
    echo "$codec $rate $channels $duration"
}

# Checks an output against the expected audio codec, sample rate (44.1 kHz unless given), stereo
# and the input's length (within a second); prints what was found.
check_output() {
    local file=$1 codec=$2 wanted_rate=${3:-44100}
    local found
    found=$(describe_audio "$file")
    read -r c r ch d <<<"$found"
    if [ "$c" != "$codec" ] || [ "$r" != "$wanted_rate" ] || [ "$ch" != 2 ] ||
        ! awk -v d="$d" -v s="$BENCH_SECONDS" 'BEGIN { exit !(d > s - 1 && d < s + 1) }'; then
        echo "OUTPUT CHECK FAILED for $file: $found (wanted $codec $wanted_rate 2 ~$BENCH_SECONDS)" >&2
        exit 1
    fi
    echo "  checked $(basename "$file"): $found"
}

# The most entries /proc/PID/fd had while the process ran (sampled every 20 ms).
peak_handles() {
    local pid=$1 peak=0 count
    while kill -0 "$pid" 2>/dev/null; do
        count=$(ls "/proc/$pid/fd" 2>/dev/null | wc -l) || count=0
        [ "$count" -gt "$peak" ] && peak=$count
        sleep 0.02
    done
    echo "$peak"
}

print_load() {
    echo "load: $(cut -d' ' -f1-3 /proc/loadavg) at $(date -u +%H:%M:%S) UTC, $(nproc) processors"
}

# The header and one row of the comparison table of labels $2 (ours) and $3 (the tool), named $1.
# Targets: our median wall time at most 1.05 times the tool's, our peak memory at most the tool's
# plus 20 MB.
table_header() {
    echo "| $1 | ours s | ffmpeg s | ratio | ours MB | ffmpeg MB | +MB | ours CPU s | ffmpeg CPU s | time | memory |"
    echo "|---|---:|---:|---:|---:|---:|---:|---:|---:|---|---|"
}

table_row() {
    local name=$1 ours=$2 tool=$3
    awk -v n="$name" -v ow="$(median "$ours" 1)" -v tw="$(median "$tool" 1)" \
        -v om="$(largest "$ours" 2)" -v tm="$(largest "$tool" 2)" \
        -v oc="$(median "$ours" 3)" -v tc="$(median "$tool" 3)" 'BEGIN {
        ratio = ow / tw; extra = (om - tm) / 1024
        printf "| %s | %.2f | %.2f | %.3f | %.1f | %.1f | %+.1f | %.2f | %.2f | %s | %s |\n",
            n, ow, tw, ratio, om / 1024, tm / 1024, extra, oc, tc,
            ratio <= 1.05 ? "met" : "MISSED", extra <= 20 ? "met" : "MISSED" }'
}
