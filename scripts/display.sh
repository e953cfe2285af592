#!/usr/bin/env bash
# Runs a command on a private X server (Xvfb) with a window manager (openbox), then stops both.
# The server takes the first free display number; DISPLAY is set for the command, and
# VELLORAN_DISPLAY_REQUIRED=1 tells the display tests that a missing display is a failure, not a
# reason to skip. The command's exit status is the script's.
#
#   scripts/display.sh ctest --preset dev -L display
set -euo pipefail
if [ $# -eq 0 ]; then
    echo "usage: $0 command [argument...]" >&2
    exit 2
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/velloran-display-XXXXXX")
server_pid=""
wm_pid=""
command_pid=""
stop() {
    local pid
    for pid in "$command_pid" "$wm_pid" "$server_pid"; do
        if [ -n "$pid" ]; then
            kill "$pid" 2>/dev/null || true
            wait "$pid" 2>/dev/null || true
        fi
    done
    rm -rf "$work"
}
trap stop EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# Both programs say when they are ready through a pipe: the server writes its display number
# once it accepts clients, the window manager runs its start-up command once it manages windows.
# A program that dies closes its end, and the read ends at once.
mkfifo "$work/server" "$work/wm"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$work/server" \
    >"$work/server.log" 2>&1 &
server_pid=$!
number=""
read -r -t 30 number <"$work/server" || true
if [ -z "$number" ]; then
    echo "$0: the X server did not start:" >&2
    cat "$work/server.log" >&2
    exit 1
fi
export DISPLAY=":$number"

openbox --sm-disable --startup "sh -c 'echo ready >\"$work/wm\"'" >"$work/wm.log" 2>&1 &
wm_pid=$!
ready=""
read -r -t 30 ready <"$work/wm" || true
if [ "$ready" != ready ]; then
    echo "$0: the window manager did not start:" >&2
    cat "$work/wm.log" >&2
    exit 1
fi

export VELLORAN_DISPLAY_REQUIRED=1
# In the background, so that a signal to this script stops everything at once instead of
# waiting for the command to end.
"$@" &
command_pid=$!
status=0
wait "$command_pid" || status=$?
command_pid=""
exit "$status"
