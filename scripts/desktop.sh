#!/usr/bin/env bash
# Runs a command in a Wayland session as GNOME gives one: mutter, GNOME's compositor, headless on
# a virtual monitor of 1600 by 1000 pixels, on a private session bus, with its Xwayland for X11
# programs; then stops it. The command gets the session's environment (WAYLAND_DISPLAY, DISPLAY
# and XAUTHORITY of the Xwayland, DBUS_SESSION_BUS_ADDRESS, XDG_SESSION_TYPE=wayland, XDG_CURRENT_DESKTOP=GNOME, a private
# XDG_RUNTIME_DIR), and VELLORAN_DESKTOP_REQUIRED=1, which tells the desktop tests that a missing
# session is a failure, not a reason to skip. The command's exit status is the script's.
#
#   scripts/desktop.sh ctest --preset dev -L desktop
set -euo pipefail
if [ $# -eq 0 ]; then
    echo "usage: $0 command [argument...]" >&2
    exit 2
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/velloran-desktop-XXXXXX")
session_pid=""
command_pid=""
stop() {
    if [ -n "$command_pid" ]; then
        kill "$command_pid" 2>/dev/null || true
        wait "$command_pid" 2>/dev/null || true
    fi
    if [ -n "$session_pid" ]; then
        # Ending the command mutter runs ends mutter, its Xwayland and the bus, and then the
        # session's first process; a session that does not end so is ended by signals to its
        # process group.
        exec 4>&- 5>&-
        local signal tries
        for signal in TERM KILL; do
            tries=0
            while kill -0 "$session_pid" 2>/dev/null && [ "$tries" -lt 50 ]; do
                sleep 0.1
                tries=$((tries + 1))
            done
            kill -0 "$session_pid" 2>/dev/null || break
            kill -"$signal" -- "-$session_pid" 2>/dev/null || true
        done
        wait "$session_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap stop EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# The command mutter starts once its Wayland and X11 displays accept clients writes their names
# into one pipe and then waits on another, whose closing by this script ends the session.
mkdir -m 0700 "$work/runtime"
mkfifo "$work/ready" "$work/hold"
export XDG_RUNTIME_DIR="$work/runtime"
export XDG_SESSION_TYPE=wayland
export XDG_CURRENT_DESKTOP=GNOME
unset WAYLAND_DISPLAY DISPLAY XAUTHORITY
# A bus of its own, so that nothing of the desktop this may run in answers.
unset DBUS_SESSION_BUS_ADDRESS
report='printf "%s\n%s\n%s\n%s\n" "$WAYLAND_DISPLAY" "$DISPLAY" "$XAUTHORITY" \
    "$DBUS_SESSION_BUS_ADDRESS" >"$0"; exec cat "$1"'
setsid dbus-run-session -- mutter --wayland --headless --virtual-monitor 1600x1000 \
    -- sh -c "$report" "$work/ready" "$work/hold" >"$work/mutter.log" 2>&1 &
session_pid=$!
# Both pipes are held open by this script until the end: the waiting command sees no end of
# file before this script closes its end, and a mutter that dies before it is ready leaves
# nothing waiting for a writer.
exec 4<>"$work/hold" 5<>"$work/ready"

wayland=""
display=""
xauthority=""
bus=""
waited=0
while ! read -r -t 1 wayland <&5; do
    waited=$((waited + 1))
    if ! kill -0 "$session_pid" 2>/dev/null || [ "$waited" -ge 60 ]; then
        break
    fi
done
if [ -n "$wayland" ]; then
    read -r -t 5 display <&5 || true
    read -r -t 5 xauthority <&5 || true
    read -r -t 5 bus <&5 || true
fi
if [ -z "$wayland" ] || [ -z "$display" ]; then
    echo "$0: mutter did not start its Wayland and X11 displays:" >&2
    cat "$work/mutter.log" >&2
    exit 1
fi
export WAYLAND_DISPLAY="$wayland" DISPLAY="$display" XAUTHORITY="$xauthority"
export DBUS_SESSION_BUS_ADDRESS="$bus"

export VELLORAN_DESKTOP_REQUIRED=1
# In the background, so that a signal to this script stops everything at once instead of
# waiting for the command to end.
"$@" 4>&- 5>&- &
command_pid=$!
status=0
wait "$command_pid" || status=$?
command_pid=""
exit "$status"
