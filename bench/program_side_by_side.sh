#!/usr/bin/env bash
# The whole program against ffmpeg's x11grab, one after the other on the same
# private X server with the same content: 30 fps, quantiser 2 (x264: crf 18), no B-frames,
# $seconds seconds each. The program is driven as a user drives it: "Start
# Record" clicked, F9 to stop. Prints the share of frame slots that hold a frame
# (x11grab with -fps_mode vfr, so that a missed slot is an empty chunk for
# both), for the program also the share it kept (frames and repeats of an
# unchanged screen, from its log), and the CPU seconds per recorded second.
#
#   bench/program_side_by_side.sh [build folder] [seconds]     (default: build/, 60)
#
# Set in the environment:
#   SIZE=3840x2160             the screen (default 1920x1080)
#   SCENE=still                a desk with only a clock ticking once a second
#                              (default: a 1280x720 picture playing at 30 fps,
#                              a wandering window and pointer)
#   BUSY=1                     one core kept busy by a shell loop during both runs
#   SCALE=1080                 both record scaled to that height (the program's
#                              "Scale to", x11grab with -vf scale)
#   CODEC="FFmpeg MPEG-4 Video Codec"   (default "Xvid MPEG-4 Codec"; also
#                              "x264 H.264/AVC Codec": x11grab's libx264 set up as
#                              the program sets it up: veryfast, crf 18, no B-frames,
#                              one frame's look-ahead, two slice threads)
#   CLICKS=1                   300 press messages sent to the recording dialog,
#                              from 2 s in, by build/bench/click_latency
#   X11GRAB=0                  the program's run only (for comparing two builds)
#   FILE=still.mkv             the program's file, typed into the path box; its
#                              extension picks the container (default: the
#                              dialog's own name, an AVI file)
#   ROUNDS=5                   the program and x11grab alternated this many times
#                              on the same desktop, with the median ratio at the end
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
seconds=${2:-60}
source "$root/bench/desktop.sh"
make_work_folder program-bench

size=${SIZE:-1920x1080}
codec=${CODEC:-Xvid MPEG-4 Codec}
case $codec in
Xvid*) ffmpeg_codec=(-c:v libxvid -q:v 2) ;;
x264*) ffmpeg_codec=(-c:v libx264 -preset veryfast -crf 18 -pix_fmt yuv420p -threads 2
                     -x264-params rc-lookahead=1:sync-lookahead=0:sliced-threads=1) ;;
*) ffmpeg_codec=(-c:v mpeg4 -q:v 2) ;;
esac

start_desktop() {
    start_server "${size}x24"
    xclock -update 1 -geometry 600x600+100+300 >/dev/null 2>&1 &
    pids+=($!)
    [ "${SCENE:-moving}" = still ] && return
    ffplay -loglevel quiet -f lavfi -i testsrc2=s=1280x720:r=30 >/dev/null 2>&1 &
    pids+=($!)
    xeyes -geometry 500x400+900+300 >/dev/null 2>&1 &
    pids+=($!)
    wait_for 10 xdotool search --name '^xeyes$'
    # Keeps the picture changing all the time: the eyes wander and follow the pointer.
    (
        eyes=$(xdotool search --name '^xeyes$' | head -n1)
        step=0
        while :; do
            [ -e "$work/pointer-held" ] ||
                xdotool mousemove $((200 + (step * 37) % 1500)) $((150 + (step * 53) % 800)) \
                    windowmove "$eyes" $((700 + (step * 29) % 900)) $((200 + (step * 17) % 500))
            step=$((step + 1))
            sleep 0.05
        done
    ) >/dev/null 2>&1 &
    pids+=($!)
}

record_with_ffmpeg() {
    /usr/bin/time -f '%U %S' -o "$work/ffmpeg.time" \
        ffmpeg -nostdin -y -f x11grab -framerate 30 -video_size "$size" -i "$DISPLAY" \
        -t "$seconds" ${SCALE:+-vf "scale=-2:$SCALE"} "${ffmpeg_codec[@]}" -bf 0 -fps_mode vfr \
        "$work/ffmpeg.avi" 2>"$work/ffmpeg.log"
    ffmpeg_cpu=$(awk -v s="$seconds" '{ printf "%.3f", ($1 + $2) / s }' "$work/ffmpeg.time")
}

spinner=""
keep_a_core_busy() {
    [ "${BUSY:-0}" = 1 ] || return 0
    (while :; do :; done) &
    spinner=$!
    pids+=($spinner)
}

megabytes() { stat -c %s "$1" | awk '{ printf "%.1f MB", $1 / 1e6 }'; }

report_program() {
    echo "Kestrabole: CPU-s per recorded s $program_cpu; slots $(slot_share "$program_file"); $(megabytes "$program_file")"
    # A slot whose screen had not changed is an empty chunk too (a repeat): the file
    # cannot tell it from a missed one, the program's own count can.
    grep -o 'recorded .*' "$work/program.log" |
        awk '{ kept = $2 + $4; all = kept + $6
               printf "Kestrabole: slots kept (frames + repeats) %d of %d (%.2f%%); %s\n",
                      kept, all, 100 * kept / all, $0 }' || true
    [ "${CLICKS:-0}" = 1 ] && echo "press messages while recording: $(cat "$work/clicks.txt")"
    # The next round types the same name: no question about replacing it.
    rm -f "$program_file"
}

ratios=()
report_x11grab() {
    echo "x11grab:    CPU-s per recorded s $ffmpeg_cpu; slots $(slot_share "$work/ffmpeg.avi"); $(megabytes "$work/ffmpeg.avi")"
    ratios+=("$(awk -v a="$program_cpu" -v b="$ffmpeg_cpu" 'BEGIN { printf "%.2f", a / b }')")
    echo "CPU ratio Kestrabole / x11grab: ${ratios[-1]}"
}

load_before=$(cut -d' ' -f1-3 /proc/loadavg)
prepare_home 30 "$codec"
start_desktop
keep_a_core_busy
echo "$size${SCALE:+ scaled to ${SCALE}p}, ${SCENE:-moving}, busy core: ${BUSY:-0}, 30 fps, ${seconds} s, $codec${FILE:+ into $FILE}," \
    "on $(nproc) cores, ${ROUNDS:-1} round(s) (load before: $load_before)"
for ((round = 1; round <= ${ROUNDS:-1}; round++)); do
    record_with_program
    report_program
    [ "${X11GRAB:-1}" = 0 ] && continue
    record_with_ffmpeg
    report_x11grab
done
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
[ "${#ratios[@]}" -gt 1 ] &&
    echo "median CPU ratio of ${#ratios[@]} rounds: $(printf '%s\n' "${ratios[@]}" | sort -n |
        awk '{ r[NR] = $1 } END { printf "%.2f", NR % 2 ? r[(NR + 1) / 2] : (r[NR / 2] + r[NR / 2 + 1]) / 2 }')"
exit 0
