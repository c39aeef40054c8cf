#!/usr/bin/env bash
# Our grabber and writer (bench/record_driver) against ffmpeg's x11grab, one after
# the other on the same private 1920x1080x24 X server with the same moving content,
# same encoder and quality, 30 fps. Prints processor seconds per recorded second,
# frame slots written and file size of both.
#
#   bench/side_by_side.sh [build folder] [seconds]     (default: build/, 20)
#   CODEC="FFmpeg MPEG-4 Video Codec" bench/side_by_side.sh   (default: Xvid)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
seconds=${2:-20}
codec=${CODEC:-Xvid MPEG-4 Codec}
case $codec in
"Xvid MPEG-4 Codec") ffmpeg_codec=(-c:v libxvid -q:v 2) ;;
"FFmpeg MPEG-4 Video Codec") ffmpeg_codec=(-c:v mpeg4 -q:v 2) ;;
"x264 H.264/AVC Codec") ffmpeg_codec=(-c:v libx264 -preset veryfast -crf 18) ;;
"Motion JPEG Codec") ffmpeg_codec=(-c:v mjpeg -q:v 2 -pix_fmt yuvj420p) ;;
*) echo "no x11grab equivalent set up for: $codec" >&2; exit 2 ;;
esac
source "$root/bench/desktop.sh"
make_work_folder side-by-side

start_desktop() {
    start_server
    xclock -update 1 -geometry 500x500+60+60 >/dev/null 2>&1 &
    pids+=($!)
    # A moving test picture: the most demanding part of the screen to encode.
    ffplay -loglevel quiet -f lavfi -i "testsrc2=size=640x360:rate=30" -x 640 -y 360 \
        -left 1100 -top 500 >/dev/null 2>&1 &
    pids+=($!)
    xeyes -geometry 400x300+700+80 >/dev/null 2>&1 &
    pids+=($!)
    wait_for 10 xdotool search --name '^xeyes$'
    (
        step=0
        while :; do
            xdotool mousemove $((200 + (step * 37) % 1500)) $((150 + (step * 53) % 800))
            step=$((step + 1))
            sleep 0.05
        done
    ) >/dev/null 2>&1 &
    pids+=($!)
    sleep 2
}

cpu_per_second() { awk -v s="$seconds" '{ printf "%.3f", ($1 + $2) / s }' "$1"; }
megabytes() { awk -v b="$(stat -c %s "$1")" 'BEGIN { printf "%.1f MB", b / 1e6 }'; }

start_desktop
/usr/bin/time -f '%U %S' -o "$work/ours.time" \
    "$build/bench/record_driver" "$seconds" 30 "$codec" "$work/ours.avi" >"$work/ours.log" 2>&1
/usr/bin/time -f '%U %S' -o "$work/ffmpeg.time" \
    ffmpeg -nostdin -y -f x11grab -framerate 30 -video_size 1920x1080 -i "$DISPLAY" \
    -t "$seconds" "${ffmpeg_codec[@]}" -bf 0 "$work/ffmpeg.avi" 2>"$work/ffmpeg.log"
# ffmpeg keeps a constant rate by repeating frames: the repeats are not captures.
repeats=$(tr '\r' '\n' <"$work/ffmpeg.log" | { grep -o 'dup=[0-9]*' || true; } | tail -n1 | cut -d= -f2)

ours=$(cpu_per_second "$work/ours.time")
theirs=$(cpu_per_second "$work/ffmpeg.time")
echo "1920x1080, 30 fps, $seconds s, $codec, on $(nproc) cores (load before: $(cut -d' ' -f1-3 /proc/loadavg))"
echo "grabber+writer: CPU-s per recorded s $ours; slots $(slot_share "$work/ours.avi"); $(megabytes "$work/ours.avi")"
echo "   driver says: $(tail -n1 "$work/ours.log")"
echo "x11grab:        CPU-s per recorded s $theirs; slots $(slot_share "$work/ffmpeg.avi") of which ${repeats:-0} repeated frames; $(megabytes "$work/ffmpeg.avi")"
echo "CPU ratio ours / x11grab: $(awk -v a="$ours" -v b="$theirs" 'BEGIN { printf "%.2f", a / b }')"
