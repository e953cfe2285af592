#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: once in a debug build, once more with
# AddressSanitizer and UndefinedBehaviorSanitizer. The tests that need a real display run on a
# private X server with a window manager that scripts/display.sh starts and stops around each run,
# and a few of them again in a Wayland session that scripts/desktop.sh starts and stops.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/deps.sh
velloran_install_missing

jobs=$(nproc)
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

# The exports' tests run the formats' own tools (a Java validator, LibreOffice), slow and outside
# the sanitizers' reach: once, in the plain build.
for preset in dev asan; do
    echo "== $preset build"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j "$jobs"
    skip=desktop
    [ "$preset" = asan ] && skip="desktop|export_tools"
    scripts/display.sh ctest --preset "$preset" -j "$jobs" -LE "$skip"
done
# Once more, a few of the windows' tests in a Wayland session under GNOME's compositor.
echo "== desktop tier"
scripts/desktop.sh ctest --preset dev -L desktop

# Further checks that need their own builds.
for check in scripts/check_fuzz.sh scripts/check_packaging.sh; do
    if [ -x "$check" ]; then
        echo "== $check"
        "$check"
    fi
done
