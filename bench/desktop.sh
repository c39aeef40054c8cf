# Shared by the side-by-side scripts (sourced): a private full-HD X server with a
# window manager, the program's own home, waiting, clean-up, and the frame-slot
# count of a recording.
# The sourcing script collects what it starts in the array pids, and makes its
# scratch folder $work with make_work_folder, or on its own.

pids=()

# ffplay sometimes outlives its SIGTERM once the server is gone: after five
# seconds whatever is left is killed outright, so that the script always ends.
cleanup() {
    local pid tries
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${pids[@]}"; do
        for tries in {1..10}; do
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.5
        done
        kill -KILL "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
}

# A scratch folder named after the benchmark, gone when the script ends, as is
# everything it started.
make_work_folder() {
    work=$(mktemp -d "/tmp/tesmara-$1.XXXXXX")
    trap 'cleanup; rm -rf "$work"' EXIT
}

wait_for() {
    local limit=$(($1 * 10))
    shift
    for ((i = 0; i < limit; i++)); do
        "$@" >/dev/null 2>&1 && return 0
        sleep 0.1
    done
    echo "bench: gave up waiting for: $*" >&2
    return 1
}

# Xvfb at 1920x1080x24 (or $1) on a display of its own choosing, made $DISPLAY,
# with openbox unless WINDOW_MANAGER=none.
start_server() {
    Xvfb -displayfd 5 -screen 0 "${1:-1920x1080x24}" -noreset -nolisten tcp 5>"$work/display" 2>/dev/null &
    pids+=($!)
    wait_for 10 test -s "$work/display"
    export DISPLAY=:$(head -n1 "$work/display")
    [ "${WINDOW_MANAGER:-openbox}" = none ] && return
    openbox >/dev/null 2>&1 &
    pids+=($!)
}

# Share of the 30 fps frame slots that hold a frame: distinct slots with data
# against the last slot + 1 (from the packets' times, as MP4 and Matroska count
# time in units of their own; an AVI file gives x264's packets no presentation time).
slot_share() {
    ffprobe -v error -select_streams v:0 -show_entries packet=pts_time,dts_time,size -of csv=p=0 "$1" |
        awk -F, '$3 > 0 { slot = int(($1 == "N/A" ? $2 : $1) * 30 + 0.5); seen[slot] = 1
                          if (slot > last) last = slot }
                 END { n = 0; for (p in seen) n++; printf "%d of %d (%.2f%%)", n, last + 1, 100 * n / (last + 1) }'
}

dialog_visible() { xdotool search --onlyvisible --name '^Tesmara Screen Recorder$'; }
dialog_hidden() { ! dialog_visible; }

# "Start Record": its centre in dialog units scaled to the dialog's pixels.
click_start_record() {
    local WIDTH HEIGHT
    eval "$(xdotool getwindowgeometry --shell "$1")"
    # Over the moving picture, which may have come up on top of it.
    xdotool windowraise "$1"
    # A scene that moves the pointer holds still meanwhile, or the click may land
    # where the scene has just moved the pointer.
    touch "$work/pointer-held"
    sleep 0.2
    xdotool mousemove --window "$1" $((148 * WIDTH / 297)) $((251 * HEIGHT / 379)) click 1
    rm -f "$work/pointer-held"
    wait_for 10 dialog_hidden
}

# The file's name typed into the path box (its centre in dialog units), as a
# user names the file; the extension picks the container.
type_output_path() {
    local WIDTH HEIGHT
    eval "$(xdotool getwindowgeometry --shell "$1")"
    xdotool windowraise "$1"
    xdotool mousemove --window "$1" $((150 * WIDTH / 297)) $((222 * HEIGHT / 379)) click 1 \
        key ctrl+a type "$2"
}

# utime + stime + those of reaped children (the helper process), in clock ticks.
cpu_ticks() { awk '{ print $14 + $15 + $16 + $17 }' "/proc/$1/stat"; }

# A home of the program's own: 30 fps, the preferred codec, the output folder here;
# SOUND=microphone, desktop or both ticks the sound boxes. The desktop's opener
# only notes each file it is given in $work/opened.
prepare_home() {
    local rate=${1:-30} codec=${2:-}
    local microphone=0 desktop=0
    case ${SOUND:-none} in microphone | both) microphone=1 ;; esac
    case ${SOUND:-none} in desktop | both) desktop=1 ;; esac
    mkdir -p "$work/home/.config/Tesmara Screen Recorder" "$work/home/.local/share" \
        "$work/tmp" "$work/stubs" "$work/out"
    chmod 700 "$work/tmp"
    printf '{\n   "codec" : "%s",\n   "desktopSound" : %s,\n   "frameRate" : %s,\n   "leftClick" : 1,\n   "microphone" : %s,\n   "path" : "%s/",\n   "rightClick" : 1,\n   "scale" : %s\n}\n' \
        "$codec" "$desktop" "$rate" "$microphone" "$work/out" "${SCALE:-0}" >"$work/home/.config/Tesmara Screen Recorder/settings"
    printf '#!/bin/sh\necho "$1" >>"%s/opened"\n' "$work" >"$work/stubs/xdg-open"
    chmod +x "$work/stubs/xdg-open"
    export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config
    export XDG_DATA_HOME=$work/home/.local/share TMPDIR=$work/tmp PATH=$work/stubs:$PATH
}

# The program driven as a user drives it for $seconds: "Start Record" clicked, F9
# to stop. Sets program_cpu (CPU seconds per recorded second, helper included,
# an MP4 file's completion too) and program_file, the recording as completed and
# opened after the stop. FILE=still.mkv names the file in the path box first (its
# extension picks the container). CLICKS=1 sends 300 press messages from 2 s in.
record_with_program() {
    rm -f "$work/opened"
    "$build/bin/Kestrabole" >"$work/program.log" 2>&1 &
    local program=$!
    pids+=($program)
    wait_for 15 dialog_visible
    local dialog before after
    dialog=$(dialog_visible | head -n1)
    [ -z "${FILE:-}" ] || type_output_path "$dialog" "$work/out/$FILE"
    before=$(cpu_ticks "$program")
    click_start_record "$dialog"
    local clicks=""
    if [ "${CLICKS:-0}" = 1 ]; then
        (sleep 2 && "$build/bench/click_latency" 300 "$dialog") >"$work/clicks.txt" 2>&1 &
        clicks=$!
    fi
    sleep "$seconds"
    [ -z "$clicks" ] || wait "$clicks" || true
    xdotool key F9
    wait_for 30 dialog_visible
    wait_for 60 test -s "$work/opened"
    after=$(cpu_ticks "$program")
    kill -TERM "$program"
    wait "$program" || true
    program_cpu=$(awk -v t=$((after - before)) -v hz="$(getconf CLK_TCK)" -v s="$seconds" \
        'BEGIN { printf "%.3f", t / hz / s }')
    program_file=$(tail -n1 "$work/opened")
    program_file=${program_file#file://}
    program_file=$(printf '%b' "${program_file//%/\\x}")
}
