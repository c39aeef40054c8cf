#!/usr/bin/env bash
# A private sound server for the tests: PipeWire with its pulse server and
# WirePlumber, on a D-Bus session of their own (without one WirePlumber exits and
# every stream times out). The default output is a null sink, "speakers"; the
# default input a pipe source, "microphone", fed through FOLDER/microphone.fifo.
# Usage: sound-server.sh FOLDER. Clients reach it as unix:FOLDER/pulse/native.
# Writes FOLDER/ready once a tone played into the speakers is heard on their
# monitor, then stays until killed; logs go to FOLDER/*.log.
set -u
state=$1
export XDG_RUNTIME_DIR=$state XDG_CONFIG_HOME=$state/config XDG_STATE_HOME=$state/state
export HOME=$state DBUS_SESSION_BUS_ADDRESS=unix:path=$state/bus
export PULSE_SERVER=unix:$state/pulse/native
mkdir -p "$XDG_CONFIG_HOME" "$XDG_STATE_HOME"
chmod 700 "$state"

pids=()
finish() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
    wait
}
trap finish EXIT TERM INT

until_true() { # tenths of a second, command...
    local tenths=$1
    shift
    for _ in $(seq "$tenths"); do "$@" >/dev/null 2>&1 && return 0; sleep 0.1; done
    echo "timed out: $*" >&2
    return 1
}

dbus-daemon --session --address="$DBUS_SESSION_BUS_ADDRESS" --nofork --nopidfile \
    > "$state/dbus.log" 2>&1 & pids+=($!)
until_true 50 test -S "$state/bus" || exit 1
pipewire > "$state/pipewire.log" 2>&1 & pids+=($!)
until_true 50 test -S "$state/pipewire-0" || exit 1
wireplumber > "$state/wireplumber.log" 2>&1 & pids+=($!)
pipewire-pulse > "$state/pipewire-pulse.log" 2>&1 & pids+=($!)
until_true 100 pactl info || exit 1

mkfifo "$state/microphone.fifo"
pactl load-module module-null-sink sink_name=speakers >/dev/null
pactl load-module module-pipe-source source_name=microphone file="$state/microphone.fifo" \
    format=s16le rate=48000 channels=2 >/dev/null
until_true 100 sh -c 'pactl list short sinks | grep -q speakers' || exit 1
until_true 100 sh -c 'pactl list short sources | grep -q "^[0-9]*\smicrophone"' || exit 1
pactl set-default-sink speakers
pactl set-default-source microphone

# WirePlumber links the streams: until it does, both devices exist and every
# stream stays silent. The tone has ended before "ready" is written.
raw=(--format=s16le --rate=48000 --channels=2)
routes_sound() {
    sox -q -n -r 48000 -c 2 -b 16 -e signed -t raw - synth 0.5 sine 1000 vol 0.5 |
        pacat --device=speakers "${raw[@]}" &
    local player=$!
    local peak
    peak=$(timeout 0.6 parec --latency-msec=20 --device=speakers.monitor "${raw[@]}" |
        sox -t raw -r 48000 -c 2 -b 16 -e signed - -n stat 2>&1 |
        awk '/^Maximum amplitude/ { print $3 }')
    wait "$player"
    awk -v peak="${peak:-0}" 'BEGIN { exit !(peak > 0.1) }'
}
until_true 100 routes_sound || exit 1
touch "$state/ready"
wait
