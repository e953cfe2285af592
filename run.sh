#!/usr/bin/env bash
# Installs what is missing, builds the editor and starts it. Without a document it opens a
# working copy of the bundled sample, so that trying the editor never changes the repository.
set -euo pipefail
root=$(cd "$(dirname "$0")" && pwd)
source "$root/scripts/deps.sh"
velloran_install_missing

(cd "$root" && cmake --preset release >/dev/null && cmake --build --preset release -j "$(nproc)")

given=("$@")
if [ $# -eq 0 ]; then
    data="${XDG_DATA_HOME:-$HOME/.local/share}/velloran"
    mkdir -p "$data"
    [ -f "$data/Velloran.vlp" ] || cp "$root/examples/Velloran.vlp" "$data/Velloran.vlp"
    set -- "$data/Velloran.vlp"
fi

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    echo "No display found; to run the editor on a virtual one: xvfb-run -a $0${given[*]:+ ${given[*]}}"
    exit 1
fi
exec "$root/build/release/ui/velloran" "$@"
