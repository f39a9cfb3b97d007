#!/usr/bin/env bash
# Builds quillmar-link.exe and runs the end-to-end suite against it under Wine,
# then shows its message box on a virtual display, takes a screenshot of it
# (build/windows-i686/artifacts/message-box.png) and dismisses it.
#
# Needs the MinGW-w64 cross compiler, Wine with 32-bit support, Xvfb, xdotool
# and ImageMagick's import; .ci/run installs them on Debian 12.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

cmake --workflow --preset windows-i686
# The suite itself is a Linux program: the optimised build's link_test.
cmake --preset release >/dev/null
cmake --build --preset release

exe=$root/build/windows-i686/quillmar-link.exe
artifacts=$root/build/windows-i686/artifacts
mkdir -p "$artifacts"

if ! timeout 120 wine --version >/dev/null 2>&1; then
    echo "wine cannot start here: it needs wine32:i386 and a machine that runs 32-bit x86 programs" >&2
    echo "(on one that cannot, .ci/run runs them under QEMU's user-mode emulation)" >&2
    exit 1
fi

work=$(mktemp -d)
xvfb_pid=
# No installer may ask for anything, and no run may find a display unless
# the run is about the message box.
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=
unset DISPLAY

cleanup() {
    timeout 120 wineserver -k >/dev/null 2>&1 || true
    if [ -n "$xvfb_pid" ]; then
        kill "$xvfb_pid" 2>/dev/null || true
        wait "$xvfb_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

# One server for the whole run, started with no pipes attached: a server
# that a wine call starts inherits that call's output and keeps a test's
# captured stderr open after the program has ended.
mkdir -p "$WINEPREFIX"
timeout 120 wineserver -p </dev/null >/dev/null 2>&1
echo "creating the Wine prefix"
if ! timeout 900 wineboot -i </dev/null >"$work/wineboot.log" 2>&1; then
    cat "$work/wineboot.log" >&2
    exit 1
fi

echo "running the end-to-end suite against $exe"
QUILLMAR_LINK="timeout 300 wine $exe" \
    ctest --test-dir build/release --label-regex end-to-end --output-on-failure --parallel 2

# The message box: a window named "error" that waits until it is dismissed;
# the run then ends with status 1, standard output holding only the banner.
echo "showing the message box on a virtual display"
# The desktop process that Wine started so far has no display, and every
# later program would draw on it unseen: begin again with a fresh server.
timeout 120 wineserver -k || true
timeout 120 wineserver -w || true
timeout 120 wineserver -p </dev/null >/dev/null 2>&1
Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp 3>"$work/display" </dev/null >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 300); do
    [ -s "$work/display" ] && break
    sleep 0.1
done
[ -s "$work/display" ] || { echo "message box: Xvfb did not start" >&2; exit 1; }
display=:$(head -n 1 "$work/display")

mkdir -p "$work/box/site"
(
    cd "$work/box"
    status=0
    DISPLAY=$display timeout 600 wine "$exe" site missing/app.bin >out.txt 2>err.txt || status=$?
    echo "$status" >status.txt
) &
run_pid=$!

fail() {
    echo "message box: $1" >&2
    exit 1
}
# Only a mapped window can be photographed.
window=$(DISPLAY=$display timeout 300 xdotool search --sync --onlyvisible --name '^error$' | head -n 1) ||
    fail "no window named \"error\" appeared"
kill -0 "$run_pid" 2>/dev/null || fail "the program did not wait for the box"
DISPLAY=$display timeout 60 import -window "$window" "$artifacts/message-box.png" || fail "no screenshot"
DISPLAY=$display timeout 60 xdotool key --window "$window" Return 2>/dev/null
wait "$run_pid"
[ "$(cat "$work/box/status.txt")" = 1 ] || fail "exit status $(cat "$work/box/status.txt"), not 1"
[ "$(cat "$work/box/out.txt")" = $'Quillmar Linker\r' ] || fail "standard output held more than the banner"
[ ! -e "$work/box/missing" ] || fail "a folder was created"
echo "message box: shown, dismissed with Return, exit status 1; screenshot in $artifacts/message-box.png"
