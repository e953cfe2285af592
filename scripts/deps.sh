# Installs the Debian packages the editor needs that are missing. Sourced by run.sh and test.sh.
velloran_packages=(cmake ninja-build g++ clang libclang-rt-14-dev qt6-base-dev libgl-dev
                   libgtest-dev libgmock-dev libbenchmark-dev fonts-liberation xvfb xauth)
# The plugin that draws the program's SVG icon.
velloran_packages+=(libqt6svg6)
# Sealed documents: secretstream and Argon2id.
velloran_packages+=(libsodium-dev)
# Spelling: Hunspell, and the dictionary the tests of the program itself may use.
velloran_packages+=(libhunspell-dev hunspell-en-us)
# Find and replace with regular expressions: PCRE2's 8-bit library.
velloran_packages+=(libpcre2-dev)
# Version history: sections compressed with zstd, compared word by word with dtl (headers only).
velloran_packages+=(libzstd-dev libdtl-dev)
# Export and import: ZIP containers and XML; the tests read every export with the format's own
# tools (epubcheck, python-docx, python-odf, poppler, LibreOffice) and a CJK face for the PDF.
velloran_packages+=(libzip-dev libxml2-dev)
velloran_packages+=(epubcheck python3-docx python3-odf poppler-utils libreoffice-writer-nogui
                    fonts-wqy-zenhei)
# The Export dialog's further formats, written by pandoc where it is installed.
velloran_packages+=(pandoc)
# The tests under a real display: a window manager, and typing through the X server.
velloran_packages+=(openbox xdotool)
# The tests in a Wayland session as GNOME gives one: its compositor headless with its Xwayland, a
# session bus, and the toolkit's Wayland platform for the native run.
velloran_packages+=(mutter xwayland dbus-daemon qt6-wayland)
# A dark desktop theme, as qt6ct gives one, for the test that every window reads under it.
velloran_packages+=(qt6ct)
# The accessibility bus and a client of it, for the test that reads every window as a screen
# reader does.
velloran_packages+=(at-spi2-core python3-pyatspi)

velloran_install_missing() {
    local missing=()
    local p
    for p in "${velloran_packages[@]}" "$@"; do
        if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
            missing+=("$p")
        fi
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=()
    [ "$(id -u)" -ne 0 ] && sudo=(sudo)
    "${sudo[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends \
        "${missing[@]}"
}
