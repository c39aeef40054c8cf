# Shared by the side-by-side scripts (sourced): a private full-HD X server with a
# window manager, waiting, clean-up, and the frame-slot count of a recording.
# The sourcing script sets $work (a scratch folder) and collects what it starts
# in the array pids.

cleanup() {
    local pid
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
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

# Xvfb at 1920x1080x24 on a display of its own choosing, made $DISPLAY, with openbox.
start_server() {
    Xvfb -displayfd 5 -screen 0 1920x1080x24 -noreset -nolisten tcp 5>"$work/display" 2>/dev/null &
    pids+=($!)
    wait_for 10 test -s "$work/display"
    export DISPLAY=:$(head -n1 "$work/display")
    openbox >/dev/null 2>&1 &
    pids+=($!)
}

# Share of frame slots that hold a frame: distinct positions with data against
# the last position + 1.
slot_share() {
    ffprobe -v error -select_streams v:0 -show_entries packet=pts,size -of csv=p=0 "$1" |
        awk -F, '$2 > 0 { seen[$1] = 1; if ($1 > last) last = $1 }
                 END { n = 0; for (p in seen) n++; printf "%d of %d (%.2f%%)", n, last + 1, 100 * n / (last + 1) }'
}
