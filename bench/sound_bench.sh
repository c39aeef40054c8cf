#!/usr/bin/env bash
# What recording sound costs, and whether it keeps pace: the whole program records
# the same full-HD desk twice, $seconds seconds each, once without sound and once
# with the microphone and the desktop's sound (a private PipeWire pulse server
# from tests/support/sound-server.sh, a tone played into each source all along).
# Prints the CPU seconds per recorded second of both runs, their difference, and
# the sound's and the picture's durations in the file with sound.
#
#   bench/sound_bench.sh [build folder] [seconds]     (default: build/, 600)
#
# QUIET_SECONDS=120 shortens the run without sound (default: as long as the other).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
seconds=${2:-600}
source "$root/bench/desktop.sh"
make_work_folder sound-bench

start_sound() {
    mkdir -p "$work/sound"
    setsid bash "$root/tests/support/sound-server.sh" "$work/sound" >"$work/sound.log" 2>&1 &
    pids+=($!)
    wait_for 20 test -e "$work/sound/ready"
    export PULSE_SERVER=unix:$work/sound/pulse/native
    local length=$((2 * seconds + 60))
    sox -q -n -r 48000 -c 2 -b 16 -e signed -t raw - synth "$length" sine 1000 vol 0.3 |
        pacat --device=speakers --format=s16le --rate=48000 --channels=2 &
    pids+=($!)
    sox -q -n -r 48000 -c 2 -b 16 -e signed -t raw - synth "$length" sine 440 vol 0.3 \
        >"$work/sound/microphone.fifo" &
    pids+=($!)
}

duration_of() { # file, stream selector
    ffprobe -v error -select_streams "$2" -show_entries stream=duration -of csv=p=0 "$1"
}

load_before=$(cut -d' ' -f1-3 /proc/loadavg)
start_server 1920x1080x24
xclock -update 1 -geometry 600x600+100+300 >/dev/null 2>&1 &
pids+=($!)
start_sound

SOUND=none prepare_home 30 ""
sound_seconds=$seconds
seconds=${QUIET_SECONDS:-$seconds}
record_with_program
quiet_cpu=$program_cpu
seconds=$sound_seconds
rm -rf "$work/out" "$work/home"

SOUND=both prepare_home 30 ""
record_with_program
sound_cpu=$program_cpu

echo "1920x1080, still desk, 30 fps, ${QUIET_SECONDS:-$seconds} s without and ${seconds} s with sound, on $(nproc) cores" \
    "(load before: $load_before, after: $(cut -d' ' -f1-3 /proc/loadavg))"
echo "without sound: CPU-s per recorded s $quiet_cpu"
echo "with both:     CPU-s per recorded s $sound_cpu (sound adds" \
    "$(awk -v a="$sound_cpu" -v b="$quiet_cpu" 'BEGIN { printf "%.3f", a - b }'))"
video=$(duration_of "$program_file" v:0)
audio=$(duration_of "$program_file" a:0)
echo "durations: video $video s, sound $audio s, apart by" \
    "$(awk -v a="$audio" -v v="$video" 'BEGIN { printf "%.1f ms", (a - v) * 1000 }')"
