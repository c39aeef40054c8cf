#!/usr/bin/env bash
# Processor time per frame of libx264 (crf 18, yuv420p, no B-frames, as the
# recorder sets it up) at 1920x1080, 30 fps, for each preset, on screen-like
# content: a white desktop with a moving 640x360 video window and a band of
# fine, changing detail. The source's own cost is measured alone and taken out.
#   bench/x264_presets.sh [frames] [threads]     (defaults: 300, 2)
set -euo pipefail
frames=${1:-300}
threads=${2:-2}
scene="color=c=white:s=1920x1080:r=30[desk];testsrc2=s=640x360:r=30[video];"
scene+="life=s=1920x240:r=30:mold=10:ratio=0.3,format=yuv420p[band];"
scene+="[desk][video]overlay=x='mod(n*7,1280)':y=120[a];[a][band]overlay=y=700,format=yuv420p"

source=(ffmpeg -v error -nostdin -filter_complex "$scene" -frames:v "$frames")

# User + system seconds of encoding the scene with the given output options.
cpu_seconds() {
    /usr/bin/time -f "%U %S" "${source[@]}" "$@" -f null - 2>&1 >/dev/null | tail -n1 |
        awk '{print $1 + $2}'
}

base=$(cpu_seconds -c:v rawvideo)
echo "load: $(cut -d' ' -f1-3 /proc/loadavg); $frames frames, $threads threads; source: $base s"
printf "%-10s %14s %10s\n" preset "ms CPU/frame" "kB/frame"
for preset in ultrafast superfast veryfast faster fast medium; do
    options=(-c:v libx264 -preset "$preset" -crf 18 -bf 0 -threads "$threads")
    total=$(cpu_seconds "${options[@]}")
    size=$("${source[@]}" "${options[@]}" -f h264 - | wc -c)
    awk -v t="$total" -v b="$base" -v n="$frames" -v s="$size" -v p="$preset" \
        'BEGIN { printf "%-10s %14.1f %10.1f\n", p, (t - b) * 1000 / n, s / n / 1024 }'
done
