#!/usr/bin/env bash
# A long recording as a user makes one: the whole program records a moving
# full-HD desk with the desktop's sound for $minutes minutes, driven as a user
# drives it ("Start Record", F9). The scene is a player whose every second starts
# with a white flash and a 1 kHz beep; both come from one player, so they share
# its clock. Prints the program's memory (with its helper) every minute, the
# slots kept, the sound's offset from the picture over the first and the last
# minute of the file (beep onsets against flash onsets), and whether GStreamer
# and VLC play the file through.
#
#   bench/long_run.sh [build folder] [minutes]     (default: build/, 60)
#
# Set in the environment:
#   CODEC="Huffyuv Lossless Codec" FILE=long.avi   (default x264 into long.mkv);
#                              Huffyuv fills an OpenDML AVI past 4 GiB in minutes
#   PLAY=0                     skip the players
#   KEEP=/some/folder          keep the recording there
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
minutes=${2:-60}
seconds=$((minutes * 60))
source "$root/bench/desktop.sh"
make_work_folder long-run
codec=${CODEC:-x264 H.264/AVC Codec}
file=${FILE:-long.mkv}

start_sound() {
    mkdir -p "$work/sound"
    setsid bash "$root/tests/support/sound-server.sh" "$work/sound" >"$work/sound.log" 2>&1 &
    pids+=($!)
    wait_for 20 test -e "$work/sound/ready"
    export PULSE_SERVER=unix:$work/sound/pulse/native SDL_AUDIODRIVER=pulseaudio
}

# The flash fills the player's picture for the first tenth of each second; the
# beep sounds for the same tenth.
start_scene() {
    local video="testsrc2=s=1280x720:r=30,drawbox=c=white:t=fill:enable='lt(mod(t,1),0.1)'"
    local sound="aevalsrc='if(lt(mod(t,1),0.1),0.5*sin(2*PI*1000*t),0)':s=48000"
    ffplay -loglevel warning -noborder -left 0 -top 0 -f lavfi "$video[out0];$sound[out1]" \
        >"$work/player.log" 2>&1 &
    pids+=($!)
    xeyes -geometry 500x400+1350+300 >/dev/null 2>&1 &
    pids+=($!)
}

# Resident memory of the program and of its helper process, in MiB.
memory_of_program() {
    local program=$1 total=0 pid
    for pid in $program $(cat "/proc/$program/task/"*/children 2>/dev/null); do
        total=$((total + $(awk '/^VmRSS/ { print $2 }' "/proc/$pid/status" 2>/dev/null || echo 0)))
    done
    echo $((total / 1024))
}

record() {
    "$build/bin/Kestrabole" >"$work/program.log" 2>&1 &
    local program=$!
    pids+=($program)
    wait_for 15 dialog_visible
    local dialog
    dialog=$(dialog_visible | head -n1)
    type_output_path "$dialog" "$work/out/$file"
    click_start_record "$dialog"
    for ((minute = 1; minute <= minutes; minute++)); do
        sleep 60
        echo "minute $minute: $(memory_of_program "$program") MiB resident (program and helper)," \
            "load $(cut -d' ' -f1-3 /proc/loadavg)"
    done
    xdotool key F9
    wait_for 600 dialog_visible
    kill "$program"
    wait "$program" 2>/dev/null || true
}

# Onset times (s) of the flashes in the player's corner and of the beeps, from
# $2 for $3 seconds of the file.
flash_onsets() {
    ffmpeg -nostdin -v error -copyts -ss "$2" -t "$3" -i "$1" -map 0:v \
        -vf "crop=400:300:200:200,signalstats,metadata=print:key=lavfi.signalstats.YAVG:file=-" \
        -f null - | awk '/pts_time/ { sub(/.*pts_time:/, ""); t = $1 }
                         /YAVG/ { split($0, v, "="); bright = v[2] > 200
                                  if (bright && !was) print t; was = bright }'
}
beep_onsets() {
    ffmpeg -nostdin -v info -copyts -ss "$2" -t "$3" -i "$1" -map 0:a \
        -af silencedetect=n=-30dB:d=0.5 -f null - 2>&1 |
        awk '/silence_end/ { sub(/.*silence_end: /, ""); print $1 }'
}

# Median and quartiles of beep minus nearest flash, in ms: a picture the busy
# player shows late moves one pair, not the figure.
sound_offset() {
    awk 'NR == FNR { flash[n++] = $1; next }
         { best = 1e9; for (i = 0; i < n; i++) { d = $1 - flash[i]; if (d * d < best * best) best = d }
           if (best * best < 0.25) print 1000 * best }' \
        <(flash_onsets "$1" "$2" "$3") <(beep_onsets "$1" "$2" "$3") | sort -g |
        awk '{ v[NR] = $1 } END { if (!NR) { print "no pairs"; exit }
             printf "median %.1f ms (quartiles %.1f and %.1f ms, %d pairs)",
                    v[int((NR + 1) / 2)], v[int((NR + 3) / 4)], v[int((3 * NR + 1) / 4)], NR }'
}

# VLC as user nobody (it refuses root), with a copy of its output on stdout.
vlc_plays() {
    nice setpriv --reuid=nobody --regid=nogroup --clear-groups env HOME=/tmp \
        vlc -I dummy --no-dbus --play-and-exit --vout=dummy --aout=dummy "$@" 2>&1
}

# Lines that tell of a fault in the file; a late picture at a raised speed tells
# of the machine's speed and is counted apart.
vlc_faults() {
    grep -iE 'error|broken|corrupt|missing' | grep -v 'late video' | sort | uniq -c | sort -rn | head -n5 || true
}

play_through() {
    chmod a+rx "$work" "$work/out" && chmod a+r "$1"
    local gst whole last
    gst=$(nice gst-launch-1.0 filesrc location="$1" ! decodebin ! fakesink sync=false 2>&1 | grep -E 'ERROR|Execution ended' | tr '\n' ' ')
    whole=$(vlc_plays --rate="${VLC_RATE:-4}" "$1")
    last=$(vlc_plays --start-time=$((seconds - 20)) "$1")
    echo "GStreamer decoding as fast as it can: $gst"
    echo "VLC from the start at ${VLC_RATE:-4}x: $(grep -c 'late video' <<<"$whole" || true) late pictures dropped; faults:"
    whole=$(vlc_faults <<<"$whole")
    echo "${whole:-    none}"
    echo "VLC playing the last 20 s at 1x: faults:"
    last=$(vlc_faults <<<"$last")
    echo "${last:-    none}"
}

load_before=$(cut -d' ' -f1-3 /proc/loadavg)
start_server 1920x1080x24
start_sound
SOUND=desktop prepare_home 30 "$codec"
start_scene
record
recording=$work/out/$file
echo "1920x1080, 30 fps, $codec into $file with the desktop's sound, $minutes min, on $(nproc) cores" \
    "(load before: $load_before, after: $(cut -d' ' -f1-3 /proc/loadavg))"
grep -o 'recorded .*' "$work/program.log" |
    awk '{ kept = $2 + $4; all = kept + $6
           printf "slots kept (frames + repeats) %d of %d (%.2f%%); %s\n", kept, all, 100 * kept / all, $0 }' || true
ls -l "$recording" | awk '{ printf "file: %.2f GiB\n", $5 / 2^30 }'
last_time() { ffprobe -v error -select_streams "$1" -show_entries packet=pts_time -of csv=p=0 "$recording" | tail -n1; }
echo "last picture at $(last_time v:0) s, last sound packet at $(last_time a:0) s"
echo "sound after picture, first minute: $(sound_offset "$recording" 5 60)"
echo "sound after picture, last minute:  $(sound_offset "$recording" $((seconds - 65)) 60)"
[ "${PLAY:-1}" = 0 ] || play_through "$recording"
[ -z "${KEEP:-}" ] || mv "$recording" "$KEEP/"
