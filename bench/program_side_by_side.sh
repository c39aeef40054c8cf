#!/usr/bin/env bash
# The whole program against ffmpeg's x11grab, one after the other on the same
# private 1920x1080x24 X server with the same moving content: 30 fps, the
# preferred codec (Xvid at quantiser 2, no B-frames), $seconds seconds each. The
# program is driven as a user drives it: "Start Record" clicked, F9 to stop.
# Prints the share of frame slots written and the CPU seconds per recorded second.
#
#   bench/program_side_by_side.sh [build folder] [seconds]     (default: build/, 60)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
seconds=${2:-60}
work=$(mktemp -d /tmp/tesmara-program-bench.XXXXXX)
pids=()

source "$root/bench/desktop.sh"
trap 'cleanup; rm -rf "$work"' EXIT

dialog_visible() { xdotool search --onlyvisible --name '^Tesmara Screen Recorder$'; }
dialog_hidden() { ! dialog_visible; }

# utime + stime + those of reaped children (the helper process), in clock ticks.
cpu_ticks() { awk '{ print $14 + $15 + $16 + $17 }' "/proc/$1/stat"; }

start_desktop() {
    start_server
    xclock -update 1 -geometry 600x600+100+300 >/dev/null 2>&1 &
    pids+=($!)
    xeyes -geometry 500x400+900+300 >/dev/null 2>&1 &
    pids+=($!)
    wait_for 10 xdotool search --name '^xeyes$'
    # Keeps the picture changing all the time: the eyes wander and follow the pointer.
    (
        eyes=$(xdotool search --name '^xeyes$' | head -n1)
        step=0
        while :; do
            xdotool mousemove $((200 + (step * 37) % 1500)) $((150 + (step * 53) % 800)) \
                windowmove "$eyes" $((700 + (step * 29) % 900)) $((200 + (step * 17) % 500))
            step=$((step + 1))
            sleep 0.05
        done
    ) >/dev/null 2>&1 &
    pids+=($!)
}

# A home of the program's own: 30 fps, the preferred codec, the output folder here.
prepare_home() {
    mkdir -p "$work/home/.config/Tesmara Screen Recorder" "$work/home/.local/share" \
        "$work/tmp" "$work/stubs" "$work/out"
    chmod 700 "$work/tmp"
    printf '{\n   "codec" : "",\n   "frameRate" : 30,\n   "leftClick" : 1,\n   "path" : "%s/",\n   "rightClick" : 1\n}\n' \
        "$work/out" >"$work/home/.config/Tesmara Screen Recorder/settings"
    printf '#!/bin/sh\nexit 0\n' >"$work/stubs/xdg-open"
    chmod +x "$work/stubs/xdg-open"
    export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config
    export XDG_DATA_HOME=$work/home/.local/share TMPDIR=$work/tmp PATH=$work/stubs:$PATH
}

record_with_program() {
    "$build/bin/Kestrabole" >"$work/program.log" 2>&1 &
    local program=$!
    pids+=($program)
    wait_for 15 dialog_visible
    local dialog before after WIDTH HEIGHT
    dialog=$(dialog_visible | head -n1)
    eval "$(xdotool getwindowgeometry --shell "$dialog")"
    before=$(cpu_ticks "$program")
    # "Start Record": its centre in dialog units scaled to the dialog's pixels.
    xdotool mousemove --window "$dialog" $((148 * WIDTH / 297)) $((163 * HEIGHT / 291)) click 1
    wait_for 10 dialog_hidden
    sleep "$seconds"
    xdotool key F9
    wait_for 30 dialog_visible
    after=$(cpu_ticks "$program")
    kill -TERM "$program"
    wait "$program" || true
    program_cpu=$(awk -v t=$((after - before)) -v hz="$(getconf CLK_TCK)" -v s="$seconds" \
        'BEGIN { printf "%.3f", t / hz / s }')
    program_avi=$(ls -t "$work"/out/*.avi | head -n1)
}

record_with_ffmpeg() {
    /usr/bin/time -f '%U %S' -o "$work/ffmpeg.time" \
        ffmpeg -nostdin -y -f x11grab -framerate 30 -video_size 1920x1080 -i "$DISPLAY" \
        -t "$seconds" -c:v libxvid -q:v 2 -bf 0 "$work/ffmpeg.avi" 2>"$work/ffmpeg.log"
    ffmpeg_cpu=$(awk -v s="$seconds" '{ printf "%.3f", ($1 + $2) / s }' "$work/ffmpeg.time")
    # ffmpeg keeps a constant rate by repeating frames: the repeats are not captures.
    ffmpeg_repeats=$(tr '\r' '\n' <"$work/ffmpeg.log" | { grep -o 'dup=[0-9]*' || true; } |
        tail -n1 | cut -d= -f2)
}

load_before=$(cut -d' ' -f1-3 /proc/loadavg)
prepare_home
start_desktop
record_with_program
record_with_ffmpeg
echo "1920x1080, 30 fps, ${seconds} s, Xvid q2, on $(nproc) cores (load before: $load_before)"
echo "Kestrabole: CPU-s per recorded s $program_cpu; slots $(slot_share "$program_avi")"
echo "x11grab:    CPU-s per recorded s $ffmpeg_cpu; slots $(slot_share "$work/ffmpeg.avi") of which ${ffmpeg_repeats:-0} repeated frames"
echo "CPU ratio Kestrabole / x11grab: $(awk -v a="$program_cpu" -v b="$ffmpeg_cpu" 'BEGIN { printf "%.2f", a / b }')"
