#!/usr/bin/env bash
# Builds a release, installs it into a scratch root and builds the Debian package, then checks that
# the desktop entry, metainfo, MIME types, icon, manual pages and bash completion are installed,
# valid, agree with each other and with the project's version, and are in the package, and that
# velloran-cli from the package runs without a display or the toolkit. Quiet unless something fails.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
velloran_install_missing desktop-file-utils appstream dpkg-dev

build=build/package
scratch=$(mktemp -d)
log="$scratch/log"
trap 'rm -rf "$scratch"' EXIT

fail() {
    echo "check_packaging: $*" >&2
    [ -s "$log" ] && tail -n 40 "$log" >&2
    exit 1
}
# Runs a command with its output kept for the failure message only.
quietly() {
    "$@" >"$log" 2>&1 || fail "failed: $*"
}

quietly cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DVELLORAN_BUILD_TESTS=OFF -DVELLORAN_BUILD_BENCH=OFF
quietly cmake --build "$build" -j "$(nproc)"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
[ -n "$version" ] || fail "no project version in $build/CMakeCache.txt"

root="$scratch/root"
quietly env DESTDIR="$root" cmake --install "$build" --prefix /usr
: >"$log"

files=(usr/bin/velloran
       usr/bin/velloran-cli
       usr/libexec/velloran/velloran-speller
       usr/share/applications/velloran.desktop
       usr/share/metainfo/io.velloran.editor.metainfo.xml
       usr/share/mime/packages/velloran.xml
       usr/share/icons/hicolor/scalable/apps/velloran.svg
       usr/share/man/man1/velloran.1.gz
       usr/share/man/man1/velloran-cli.1.gz
       usr/share/bash-completion/completions/velloran-cli
       usr/share/doc/velloran/copyright)
for f in "${files[@]}"; do
    [ -f "$root/$f" ] || fail "not installed: /$f"
done
desktop="$root/usr/share/applications/velloran.desktop"
metainfo="$root/usr/share/metainfo/io.velloran.editor.metainfo.xml"
mime="$root/usr/share/mime/packages/velloran.xml"

quietly desktop-file-validate "$desktop"
[ ! -s "$log" ] || fail "desktop-file-validate has remarks on velloran.desktop"
quietly appstreamcli validate --no-net --pedantic "$metainfo"
grep -q '<project_license>GPL-3.0-or-later</project_license>' "$metainfo" ||
    fail "the metainfo does not name the licence GPL-3.0-or-later"
grep -qx 'License: GPL-3.0-or-later' "$root/usr/share/doc/velloran/copyright" ||
    fail "the copyright file does not name the licence GPL-3.0-or-later"
cmp -s LICENSE /usr/share/common-licenses/GPL-3 || fail "LICENSE is not the text of the GPL-3"
if command -v xmllint >/dev/null; then
    quietly xmllint --noout "$mime" "$root/usr/share/icons/hicolor/scalable/apps/velloran.svg"
fi

# The database the desktop builds from the MIME file must map every extension, and the plain
# document must stay text so that any text editor is offered for it.
if command -v update-mime-database >/dev/null; then
    mkdir -p "$scratch/mime/packages"
    cp "$mime" "$scratch/mime/packages/"
    quietly env XDG_DATA_HOME="$scratch" XDG_DATA_DIRS="$scratch" update-mime-database "$scratch/mime"
    [ ! -s "$log" ] || fail "update-mime-database has remarks on velloran.xml"
    grep -qx 'text/x-velloran-document:\*\.vlp' <(cut -d: -f2- "$scratch/mime/globs2") ||
        fail "*.vlp is not text/x-velloran-document"
    grep -qx 'application/x-velloran-enciphered:\*\.vle' <(cut -d: -f2- "$scratch/mime/globs2") ||
        fail "*.vle is not application/x-velloran-enciphered"
    grep -qx 'application/x-velloran-sealed:\*\.vls' <(cut -d: -f2- "$scratch/mime/globs2") ||
        fail "*.vls is not application/x-velloran-sealed"
    grep -qx 'text/x-velloran-document text/plain' "$scratch/mime/subclasses" ||
        fail "text/x-velloran-document is not a subclass of text/plain"
fi

# What the desktop entry names must exist: its MIME types, its icon, the program it runs.
grep -qx 'Exec=velloran %f' "$desktop" || fail "the desktop entry does not pass the file as %f"
grep -qx 'Icon=velloran' "$desktop" || fail "the desktop entry's icon is not velloran"
for type in $(sed -n 's/^MimeType=//p' "$desktop" | tr ';' ' '); do
    grep -q "<mime-type type=\"$type\">" "$mime" || fail "$type is not declared in velloran.xml"
done
grep -q '<launchable type="desktop-id">velloran.desktop</launchable>' "$metainfo" ||
    fail "the metainfo does not launch velloran.desktop"

# Every place that carries the version carries the project's.
newest=$(grep -o '<release version="[^"]*"' "$metainfo" | head -n 1 | cut -d'"' -f2)
[ "$newest" = "$version" ] || fail "newest release in the metainfo is $newest, not $version"
for page in velloran velloran-cli; do
    zcat "$root/usr/share/man/man1/$page.1.gz" |
        grep -q "^\.TH ${page^^} 1 .*\"Velloran Editor $version\"" ||
        fail "the manual page of $page is not of version $version"
done
(cd "$scratch" && QT_QPA_PLATFORM=offscreen timeout 20 "$root/usr/bin/velloran" --version) \
    >"$log" 2>&1 || fail "velloran --version did not exit 0"
grep -qx "Velloran Editor $version" "$log" || fail "velloran --version does not print $version"
: >"$log"

# The completion offers the commands, and the sections of the document named for show.
completion="$root/usr/share/bash-completion/completions/velloran-cli"
complete_line() {
    PATH="$root/usr/bin:$PATH" bash -c 'source "$1"; shift; COMP_WORDS=("$@");
        COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _velloran_cli; echo "${COMPREPLY[*]}"' \
        _ "$completion" "$@"
}
[ "$(complete_line velloran-cli st)" = "stats" ] || fail "bash completion does not offer stats"
[ "$(complete_line velloran-cli show examples/Velloran.vlp '')" = "0 1 2 3 4 5 6 7 8" ] ||
    fail "bash completion does not offer the sections of examples/Velloran.vlp"

# Checks that velloran-cli under the root $1 links no display toolkit and works with no display at
# all. Qt's core and GUI libraries are allowed, since PDF export lays text out with them offscreen.
check_cli() {
    local cli="$1/usr/bin/velloran-cli"
    readelf -d "$cli" >"$log" 2>&1 || fail "readelf -d $cli failed"
    if grep 'NEEDED.*\[\(libQt6Widgets\|libQt6PrintSupport\|libX11\|libxcb\|libwayland\|libGL\|libEGL\)' "$log"; then
        fail "$cli links display libraries"
    fi
    env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$cli" stats examples/Velloran.vlp \
        >"$log" 2>&1 || fail "$cli stats failed without a display"
    head -n 1 "$log" | grep -qx 'Lines  Words  Char  Section' || fail "$cli stats printed no report"
    env -u DISPLAY -u WAYLAND_DISPLAY "$cli" check examples/Velloran.vlp >"$log" 2>&1 ||
        fail "$cli check examples/Velloran.vlp did not exit 0"
    env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$cli" export examples/Velloran.vlp --to pdf \
        -o "$scratch/book.pdf" >"$log" 2>&1 || fail "$cli export --to pdf failed without a display"
    head -c 5 "$scratch/book.pdf" | grep -qx '%PDF-' || fail "$cli export --to pdf wrote no PDF"
    env -u DISPLAY "$cli" --version >"$log" 2>&1 || fail "$cli --version did not exit 0"
    grep -qx "velloran-cli (Velloran Editor) $version" "$log" ||
        fail "$cli --version does not print $version"
    : >"$log"
}
check_cli "$root"

rm -f "$build"/velloran_*.deb
(cd "$build" && cpack -G DEB) >"$log" 2>&1 || fail "cpack -G DEB failed"
debs=("$build"/velloran_"$version"_*.deb)
[ -f "${debs[0]}" ] || fail "cpack made no velloran_${version}_*.deb"
deb=${debs[0]}

dpkg-deb -c "$deb" >"$log" 2>&1 || fail "dpkg-deb -c $deb failed"
for f in "${files[@]}"; do
    grep -q " \./$f\$" "$log" || fail "not in $(basename "$deb"): /$f"
done
depends=$(dpkg-deb -f "$deb" Depends)
for p in fonts-liberation libqt6svg6 qt6-qpa-plugins libqt6widgets6 libsodium23; do
    grep -qE "(^|, )$p( |,|$)" <<<"$depends" || fail "$(basename "$deb") does not depend on $p: $depends"
done
recommends=$(dpkg-deb -f "$deb" Recommends)
for p in qt6-wayland fonts-noto-cjk; do
    grep -qE "(^|, )$p( |,|$)" <<<"$recommends" ||
        fail "$(basename "$deb") does not recommend $p: $recommends"
done

# As installed from the package itself.
dpkg-deb -x "$deb" "$scratch/deb" >"$log" 2>&1 || fail "dpkg-deb -x $deb failed"
check_cli "$scratch/deb"

echo "Packaging checks passed: $(basename "$deb") with ${#files[@]} checked files; Depends: $depends"
