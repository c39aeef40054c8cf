#!/usr/bin/env bash
# A headless Wayland desktop for the tests, run inside its own D-Bus session
# (dbus-run-session) by the user the tests run it as (sway refuses root):
# sway with XWayland, PipeWire, WirePlumber, the patched wlroots portal back end
# and the desktop portal. Usage: session.sh STATE_FOLDER PORTAL_BACKEND PORTAL_FILE
# (the back end's program and the .portal file that registers it).
# Writes STATE/env (the variables a client needs) and STATE/ready, then stays
# until STATE/quit appears. Logs go to STATE/logs/.
set -u
state=$1
backend=$2
portal=$3
here=$(cd "$(dirname "$0")" && pwd)
logs=$state/logs
mkdir -p "$logs" "$state/config/xdg-desktop-portal-wlr" "$state/portals"
export XDG_CONFIG_HOME=$state/config XDG_CURRENT_DESKTOP=sway
export WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman
cp "$here/portal-backend.conf" "$state/config/xdg-desktop-portal-wlr/config"
cp "$here/$portal" "$state/portals/"
sed "s|@STATE@|$state|" "$here/sway.conf" > "$state/sway.conf"

pids=()
finish() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
    wait
}
trap finish EXIT

waitFor() { # file, tenths of a second
    for _ in $(seq "$2"); do [ -e "$1" ] && return 0; sleep 0.1; done
    echo "timed out waiting for $1" >&2
    return 1
}

sway -c "$state/sway.conf" > "$logs/sway.log" 2>&1 & pids+=($!)
waitFor "$state/display" 150 || exit 1
socket=$(ls "$XDG_RUNTIME_DIR" | grep -m1 '^wayland-[0-9]*$')
export WAYLAND_DISPLAY=$socket
export SWAYSOCK=$(ls "$XDG_RUNTIME_DIR"/sway-ipc.* | head -n1)
export DISPLAY=$(cat "$state/display")
dbus-update-activation-environment WAYLAND_DISPLAY XDG_CURRENT_DESKTOP XDG_CONFIG_HOME SWAYSOCK DISPLAY

pipewire > "$logs/pipewire.log" 2>&1 & pids+=($!)
waitFor "$XDG_RUNTIME_DIR/pipewire-0" 50 || exit 1
wireplumber > "$logs/wireplumber.log" 2>&1 & pids+=($!)
"$backend" -l DEBUG > "$logs/portal-backend.log" 2>&1 & echo $! > "$state/backend.pid"
pids+=($(cat "$state/backend.pid"))
# The stop key: KDE's GlobalShortcuts back end and its key daemon, which the front
# end must find on the bus as it starts. They draw nothing.
cp "$here/kde-shortcuts.portal" "$state/portals/"
waitForName() { # bus name, tenths of a second
    for _ in $(seq "$2"); do
        dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
            org.freedesktop.DBus.NameHasOwner "string:$1" 2>/dev/null | grep -q 'boolean true' &&
            return 0
        sleep 0.1
    done
    echo "timed out waiting for $1 on the bus" >&2
    return 1
}
QT_QPA_PLATFORM=offscreen kglobalaccel5 > "$logs/kglobalaccel.log" 2>&1 & pids+=($!)
waitForName org.kde.kglobalaccel 100 || exit 1
QT_QPA_PLATFORM=offscreen XDG_CURRENT_DESKTOP=KDE \
    /usr/lib/x86_64-linux-gnu/libexec/xdg-desktop-portal-kde \
    > "$logs/portal-kde.log" 2>&1 & pids+=($!)
waitForName org.freedesktop.impl.portal.desktop.kde 100 || exit 1
XDG_DESKTOP_PORTAL_DIR=$state/portals /usr/libexec/xdg-desktop-portal -r \
    > "$logs/portal.log" 2>&1 & pids+=($!)

{
    echo "DBUS_SESSION_BUS_ADDRESS=$DBUS_SESSION_BUS_ADDRESS"
    echo "XDG_RUNTIME_DIR=$XDG_RUNTIME_DIR"
    echo "WAYLAND_DISPLAY=$WAYLAND_DISPLAY"
    echo "SWAYSOCK=$SWAYSOCK"
    echo "DISPLAY=$DISPLAY"
    echo "XDG_CURRENT_DESKTOP=sway"
} > "$state/env"
touch "$state/ready"
while [ ! -e "$state/quit" ]; do sleep 0.2; done
