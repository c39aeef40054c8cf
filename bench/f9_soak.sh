#!/usr/bin/env bash
# F9 under load: the whole program on a 1920x1080 screen without a window manager,
# trayer holding the tray icon, a 1280x720 picture playing at 60 fps, Xvid at
# 30 fps. $runs recordings of $seconds seconds each, every second one with one
# core kept busy by a shell loop; each is stopped with F9 and timed from the key
# to the dialog shown again. A dialog still hidden after 15 s counts as stuck and
# leaves a backtrace of every thread in $work/stuck-<n>.txt (kept).
#
#   bench/f9_soak.sh [build folder] [runs] [seconds]     (default: build/, 20, 20)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
runs=${2:-20}
seconds=${3:-20}
work=$(mktemp -d /tmp/tesmara-f9-soak.XXXXXX)
WINDOW_MANAGER=none

source "$root/bench/desktop.sh"
trap cleanup EXIT

now_ms() { date +%s%3N; }

start_scene() {
    start_server
    trayer --edge top --align right --widthtype request --height 24 >/dev/null 2>&1 &
    pids+=($!)
    ffplay -loglevel quiet -f lavfi -i testsrc2=s=1280x720:r=60 >/dev/null 2>&1 &
    pids+=($!)
    wait_for 10 xdotool search --name 'testsrc2'
}

# One recording; prints the milliseconds from F9 to the dialog, or "stuck".
soak_once() {
    local run=$1 busy=$2 program dialog pressed shown spinner=""
    "$build/bin/Kestrabole" >>"$work/program.log" 2>&1 &
    program=$!
    wait_for 15 dialog_visible
    dialog=$(dialog_visible | head -n1)
    if [ "$busy" = 1 ]; then
        (while :; do :; done) &
        spinner=$!
    fi
    click_start_record "$dialog"
    sleep "$seconds"
    pressed=$(now_ms)
    xdotool key F9
    if wait_for 15 dialog_visible 2>/dev/null; then
        shown=$(now_ms)
        echo "$((shown - pressed))"
    else
        echo stuck
        gdb -p "$program" -batch -ex 'thread apply all bt' >"$work/stuck-$run.txt" 2>&1 || true
    fi
    [ -n "$spinner" ] && kill "$spinner" && wait "$spinner" 2>/dev/null
    kill -TERM "$program"
    wait "$program" || true
}

load_before=$(cut -d' ' -f1-3 /proc/loadavg)
prepare_home 30 "Xvid MPEG-4 Codec"
start_scene
worst=0
stuck=0
for ((run = 1; run <= runs; run++)); do
    busy=$((run % 2 == 0 ? 1 : 0))
    result=$(soak_once "$run" "$busy")
    echo "run $run (busy core: $busy): $result"
    if [ "$result" = stuck ]; then
        stuck=$((stuck + 1))
    elif [ "$result" -gt "$worst" ]; then
        worst=$result
    fi
done
echo "$runs recordings of $seconds s on $(nproc) cores (load before: $load_before):" \
    "$stuck stuck, worst F9 to dialog ${worst} ms; backtraces and logs in $work"
