#!/usr/bin/env bash
# Runs a test program inside a headless Wayland desktop of its own: sway on the headless backend
# with one output of 1280 x 1024 logical pixels (at scale N, N times as many device pixels each
# way) and a solid #336699 background (with --outputs 2, a second one of 800 x 600 at scale 1 to
# its right, #996633), pipewire, and xdg-desktop-portal with its wlr backend, all
# on a private session bus and a private runtime folder. Sway refuses to run as root, so a root
# caller's session runs as the unprivileged user nobody, with copies of the programs (the build
# folder may be out of that user's reach).
#
#   wayland_session.sh [--scale N] [--outputs 1|2] STAND_IN POINTER_TOOL PROGRAM [ARGS...]
#
# STAND_IN is the test's stand-in portal program, here only the Access backend that
# xdg-desktop-portal must find before it offers Screenshot; POINTER_TOOL the virtual pointer tool.
# PROGRAM runs with QT_QPA_PLATFORM=wayland and sees WAYLAND_DISPLAY, SWAYSOCK,
# DBUS_SESSION_BUS_ADDRESS and QUILLMERE_VIRTUAL_POINTER. Exits 77 (skipped) when the desktop's
# packages are missing.
set -euo pipefail

skip() {
    echo "skipped: $*" >&2
    exit 77
}

if [ "${1:-}" != --as-session-user ]; then
    scale=1
    outputs=1
    while [ "${1:-}" = --scale ] || [ "${1:-}" = --outputs ]; do
        case $1 in
        --scale) scale=$2 ;;
        --outputs) outputs=$2 ;;
        esac
        shift 2
    done
    if [ $# -lt 3 ]; then
        echo "usage: $0 [--scale N] [--outputs 1|2] STAND_IN POINTER_TOOL PROGRAM [ARGS...]" >&2
        exit 2
    fi
    for tool in sway swaybg swaymsg grim pipewire dbus-daemon dbus-send setpriv; do
        command -v "$tool" >/dev/null || skip "$tool is not installed"
    done
    for file in /usr/libexec/xdg-desktop-portal /usr/libexec/xdg-desktop-portal-wlr \
        /usr/share/xdg-desktop-portal/portals/wlr.portal; do
        [ -e "$file" ] || skip "$file is missing"
    done
    compgen -G '/usr/lib/*/qt6/plugins/platforms/libqwayland-generic.so' >/dev/null \
        || skip "Qt's Wayland platform plugin (qt6-wayland) is not installed"

    # In /tmp, which the session's user can always reach.
    base=$(mktemp -d /tmp/quillmere-wayland.XXXXXX)
    session_pid=
    remove_base() {
        if [ -n "$session_pid" ]; then
            kill -TERM "$session_pid" 2>/dev/null || true
            wait "$session_pid" 2>/dev/null || true
        fi
        rm -rf "$base"
    }
    trap remove_base EXIT
    trap 'exit 143' TERM INT
    chmod 755 "$base"
    mkdir "$base/bin"
    install -m 755 "$0" "$base/bin/session.sh"
    install -m 755 "$1" "$base/bin/stand-in"
    install -m 755 "$2" "$base/bin/virtual-pointer"
    install -m 755 "$3" "$base/bin/program"
    shift 3
    session=(bash "$base/bin/session.sh" --as-session-user "$base" "$scale" "$outputs" "$@")
    environment=(env -i PATH="$PATH" LANG=C.UTF-8)
    [ -n "${ASAN_OPTIONS:-}" ] && environment+=(ASAN_OPTIONS="$ASAN_OPTIONS")
    [ -n "${UBSAN_OPTIONS:-}" ] && environment+=(UBSAN_OPTIONS="$UBSAN_OPTIONS")
    # The caller's folder may be out of the session user's reach too.
    cd "$base"
    if [ "$(id -u)" -eq 0 ]; then
        # xdg-desktop-portal-wlr always has grim write /tmp/out.png; another user's leftover
        # there would make every screenshot fail.
        if [ -e /tmp/out.png ] && [ "$(stat -c %u /tmp/out.png)" != 65534 ]; then
            echo "/tmp/out.png belongs to another user; the wlr portal cannot write there" >&2
            exit 1
        fi
        chown -R 65534:65534 "$base"
        environment=(setpriv --reuid=65534 --regid=65534 --clear-groups "${environment[@]}")
    fi
    # In the background, so a TERM here is handled at once and ends the session with it.
    "${environment[@]}" "${session[@]}" &
    session_pid=$!
    status=0
    wait "$session_pid" || status=$?
    session_pid=
    exit "$status"
fi

# From here on: the session's own user.
base=$2
scale=$3
outputs=$4
shift 4
export QUILLMERE_VIRTUAL_POINTER=$base/bin/virtual-pointer

export HOME=$base/home
export XDG_RUNTIME_DIR=$base/run
export XDG_CONFIG_HOME=$HOME/.config XDG_CACHE_HOME=$HOME/.cache XDG_DATA_HOME=$HOME/.local/share
export XDG_CURRENT_DESKTOP=sway XDG_SESSION_TYPE=wayland QT_QPA_PLATFORM=wayland
mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$base/portals" "$base/logs"
mkdir -m 700 "$XDG_RUNTIME_DIR"
logs=$base/logs

pids=()
finish() {
    local status=$?
    if [ ${#pids[@]} -gt 0 ]; then
        kill "${pids[@]}" 2>/dev/null || true
        # Reaped here, so nothing of the session outlives it.
        wait "${pids[@]}" 2>/dev/null || true
    fi
    if [ "$status" -ne 0 ]; then
        for log in "$logs"/*; do
            [ -s "$log" ] || continue
            echo "--- $(basename "$log") (last lines)" >&2
            tail -n 20 "$log" >&2
        done
    fi
    exit "$status"
}
trap finish EXIT
trap 'exit 143' TERM INT

# Polls `condition` every 50 ms for up to 20 s.
wait_for() {
    local what=$1
    shift
    local tries=400
    until "$@" >/dev/null 2>&1; do
        tries=$((tries - 1))
        if [ "$tries" -le 0 ]; then
            echo "timed out waiting for $what" >&2
            return 1
        fi
        sleep 0.05
    done
}

# A session bus with no service folders: every service is started here, by name.
cat >"$base/bus.conf" <<EOF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:dir=$XDG_RUNTIME_DIR</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
EOF
dbus-daemon --config-file="$base/bus.conf" --nofork --print-address=3 \
    3>"$base/bus.address" 2>"$logs/dbus" &
pids+=($!)
wait_for "the session bus" test -s "$base/bus.address"
DBUS_SESSION_BUS_ADDRESS=$(head -n 1 "$base/bus.address")
export DBUS_SESSION_BUS_ADDRESS

cat >"$base/sway.conf" <<EOF
output HEADLESS-1 resolution $((1280 * scale))x$((1024 * scale)) position 0 0 scale $scale
output HEADLESS-1 bg #336699 solid_color
default_border none
default_floating_border none
xwayland disable
for_window [title="Quillmere"] floating enable
for_window [title="quillmere marker"] floating enable, move position 0 412
EOF
# A second output, right of the first, in another colour: never part of the first one's copy.
if [ "$outputs" -ge 2 ]; then
    echo "output HEADLESS-2 resolution 800x600 position 1280 0 scale 1 bg #996633 solid_color" \
        >>"$base/sway.conf"
fi
# Without direct scan-out: grim's copy of a headless output that shows a full-screen window
# straight from its buffer stays the last frame sway itself drew (measured: a band dragged off
# such an output never showed in grim's copy of it).
WLR_BACKENDS=headless WLR_HEADLESS_OUTPUTS=$outputs WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman \
    sway -D noscanout -c "$base/sway.conf" >"$logs/sway" 2>&1 &
pids+=($!)
wayland_socket() {
    local socket
    for socket in "$XDG_RUNTIME_DIR"/wayland-*; do
        if [ -S "$socket" ]; then
            basename "$socket"
            return 0
        fi
    done
    return 1
}
wait_for "sway's Wayland socket" wayland_socket
WAYLAND_DISPLAY=$(wayland_socket)
export WAYLAND_DISPLAY
export SWAYSOCK
SWAYSOCK=$(compgen -G "$XDG_RUNTIME_DIR/sway-ipc.*.sock" | head -n 1 || true)

# swaybg paints the background a moment after sway starts.
background_painted() {
    [ "$(grim -g '0,0 1x1' -t ppm - | tail -c 3 | od -An -tx1 | tr -d ' \n')" = 336699 ]
}
wait_for "the #336699 background" background_painted

# xdg-desktop-portal-wlr quits without pipewire.
pipewire >"$logs/pipewire" 2>&1 &
pids+=($!)
wait_for "pipewire's socket" test -S "$XDG_RUNTIME_DIR/pipewire-0"

# xdg-desktop-portal offers Screenshot only once some Access backend is configured; for an
# unsandboxed caller it never asks it anything.
access_name=org.freedesktop.impl.portal.desktop.quillmeretest
cp /usr/share/xdg-desktop-portal/portals/wlr.portal "$base/portals/"
cat >"$base/portals/quillmere-test.portal" <<EOF
[portal]
DBusName=$access_name
Interfaces=org.freedesktop.impl.portal.Access;
UseIn=sway
EOF
"$base/bin/stand-in" "$DBUS_SESSION_BUS_ADDRESS" access "$access_name" \
    >"$logs/access" 2>&1 &
pids+=($!)
/usr/libexec/xdg-desktop-portal-wlr -l ERROR >"$logs/portal-wlr" 2>&1 &
pids+=($!)
bus_has() {
    dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
        org.freedesktop.DBus.ListNames | grep -q "\"$1\""
}
wait_for "the Access stand-in" bus_has "$access_name"
wait_for "xdg-desktop-portal-wlr" bus_has org.freedesktop.impl.portal.desktop.wlr
XDG_DESKTOP_PORTAL_DIR=$base/portals /usr/libexec/xdg-desktop-portal >"$logs/portal" 2>&1 &
pids+=($!)
screenshot_offered() {
    dbus-send --session --print-reply --dest=org.freedesktop.portal.Desktop \
        /org/freedesktop/portal/desktop org.freedesktop.DBus.Properties.Get \
        string:org.freedesktop.portal.Screenshot string:version
}
wait_for "the portal's Screenshot interface" screenshot_offered

# Under AddressSanitizer, the leak check stays off for the program here: Qt's Wayland plugin and
# libwayland leave their objects to the end of the process. The same code's own leaks are checked
# by the tests that run without a desktop.
if [ -n "${ASAN_OPTIONS:-}" ]; then
    export ASAN_OPTIONS=$ASAN_OPTIONS:detect_leaks=0
fi
"$base/bin/program" "$@" &
pids+=($!)
program=$!
wait "$program"
