# shellcheck shell=bash
# Sourced by scripts/run and scripts/make-screenshots: the real program on a
# private X desktop (Xvfb, openbox, a tray), with a home of its own, driven through
# its dialog by xdotool. Everything started here ends when the sourcing script does.

desktop_pids=()

stop_private_desktop() {
    local pid
    for pid in "${desktop_pids[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    for pid in "${desktop_pids[@]}"; do
        wait "$pid" 2>/dev/null || true
    done
}
trap stop_private_desktop EXIT

# Waits up to $1 seconds for a command to succeed.
wait_for() {
    local limit=$(($1 * 10)) i
    shift
    for ((i = 0; i < limit; i++)); do
        "$@" >/dev/null 2>&1 && return 0
        sleep 0.1
    done
    echo "$(basename "$0"): gave up waiting for: $*" >&2
    return 1
}

dialog_visible() { xdotool search --onlyvisible --name '^Tesmara Screen Recorder$'; }
dialog_hidden() { ! dialog_visible; }

# A home in $1 keeps the run away from your own settings, value store and
# temporary files. xdg-open is replaced by a note in $1/opened.txt, so that no
# player starts on the invisible screen.
prepare_home() {
    local work=$1
    mkdir -p "$work/home/.config" "$work/home/.local/share" "$work/tmp" "$work/stubs"
    chmod 700 "$work/tmp"
    cat >"$work/stubs/xdg-open" <<STUB
#!/bin/sh
echo "\$@" >>"$work/opened.txt"
STUB
    chmod +x "$work/stubs/xdg-open"
    export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config
    export XDG_DATA_HOME=$work/home/.local/share TMPDIR=$work/tmp
    export PATH=$work/stubs:$PATH QT_QPA_PLATFORM=xcb
    unset XDG_RUNTIME_DIR DBUS_SESSION_BUS_ADDRESS
}

# Saved choices as the dialog would have left them: $1 the output folder, $2 the
# frame rate, $3 the codec's name in the list (empty: the preferred one).
save_choices() {
    mkdir -p "$XDG_CONFIG_HOME/Tesmara Screen Recorder"
    cat >"$XDG_CONFIG_HOME/Tesmara Screen Recorder/settings" <<JSON
{
   "codec" : "$3",
   "frameRate" : $2,
   "leftClick" : 1,
   "path" : "$1",
   "rightClick" : 1
}
JSON
}

# An X server of $2 pixels (e.g. 1280x720) with a window manager and a tray; its
# display number is noted in $1/display.
start_desktop() {
    local work=$1 size=$2
    Xvfb -displayfd 5 -screen 0 "${size}x24" -noreset -nolisten tcp 5>"$work/display" 2>/dev/null &
    desktop_pids+=($!)
    wait_for 10 test -s "$work/display"
    DISPLAY=:$(head -n1 "$work/display")
    export DISPLAY
    openbox >/dev/null 2>&1 &
    desktop_pids+=($!)
    trayer --edge top --align right --widthtype request --height 24 --SetDockType true \
        >/dev/null 2>&1 &
    desktop_pids+=($!)
    wait_for 10 xdotool search --class trayer
}

# Starts a program on the desktop that ends with it.
start_on_desktop() {
    "$@" >/dev/null 2>&1 &
    desktop_pids+=($!)
}

# Starts the recorder from the folder $1 and waits for its dialog; what it writes
# goes to the file $2. The process id is left in $program.
start_recorder() {
    "$1/Kestrabole" >"$2" 2>&1 &
    program=$!
    desktop_pids+=("$program")
    wait_for 20 dialog_visible
}

# The button's centre in dialog units, scaled by the dialog's size in pixels
# against its size in dialog units (297 x 379), as the dialog lays itself out.
press_start_record() {
    local dialog WIDTH HEIGHT
    dialog=$(dialog_visible | head -n1)
    eval "$(xdotool getwindowgeometry --shell "$dialog")"
    xdotool mousemove --window "$dialog" $((148 * WIDTH / 297)) $((251 * HEIGHT / 379)) click 1
    wait_for 10 dialog_hidden
}

# F9 stops; the program then ends as at a session's end.
stop_recording_and_program() {
    xdotool key F9
    wait_for 10 dialog_visible
    kill -TERM "$program"
    wait "$program" || true
}
