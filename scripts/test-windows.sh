#!/usr/bin/env bash
# Cross-builds for 64-bit Windows everything that needs no Qt (the logic libraries, the Win32
# serial port, registry, beeper and system menu, and their tests), checks that the window's
# Windows sources compile against the Qt 6 headers, and runs the tests under Wine, with no
# display. The serial tests reach kt4500-sim, the Linux program, through the
# Wine prefix's COM5 and COM12 (dosdevices links to the simulator's pseudo-terminal; Wine
# keeps COM1 to COM4 for the machine's own ports).
# The build folder is the windows preset's, build/windows.
# Usage: scripts/test-windows.sh KT4500_SIM
set -euo pipefail

if [ $# -ne 1 ]; then
    echo "usage: $0 KT4500_SIM" >&2
    exit 2
fi
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/windows
sim=$1
if [ ! -x "$sim" ]; then
    echo "test-windows: $sim is missing; build it first (make build)" >&2
    exit 1
fi
wine=$(command -v wine64 || true)
for candidate in /usr/lib/wine/wine64 "$wine"; do
    if [ -n "$candidate" ] && [ -x "$candidate" ]; then
        wine=$candidate
        break
    fi
done
wineserver=$(dirname "$wine")/wineserver
if [ ! -x "$wineserver" ]; then
    wineserver=$(command -v wineserver)
fi

(cd "$root" && cmake --preset windows -DCMAKE_CROSSCOMPILING_EMULATOR="$wine" >/dev/null \
    && cmake --build --preset windows)

# No Qt for Windows is installed here, so the window is not built for Windows; its Windows
# sources (every app/ source but the POSIX and ALSA bodies, and every Win32 body) are still
# checked against Debian's Qt 6 headers: syntax and types, with warnings as errors. Nothing
# is linked or run.
qt=/usr/include/x86_64-linux-gnu/qt6
echo "test-windows: checking the window's Windows sources against the Qt 6 headers"
(
    cd "$root"
    { ls src/app/*.cpp | grep -v -e '_posix\.cpp$' -e '_alsa\.cpp$'
      find src -path '*/win32/*.cpp' -o -name '*_win32.cpp'; } | sort -u
) | xargs -P 2 -I SOURCE sh -c '
    x86_64-w64-mingw32-g++-posix -std=c++20 -fsyntax-only -Wall -Wextra -Wpedantic -Werror \
        -DQT_NO_FOREACH -DNOMINMAX -I"$1/src" -I"$1/src/app" -isystem "$2" \
        -isystem "$2/QtCore" -isystem "$2/QtGui" -isystem "$2/QtWidgets" "$1/$3" \
        || { echo "test-windows: $3 does not compile for Windows" >&2; exit 255; }
' check "$root" "$qt" SOURCE

export WINEPREFIX="$build/wine-prefix"
export WINEDEBUG=-all
# No Mono or Gecko prompts when the prefix is created; no display is needed or used.
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY

sim_pid=
cleanup() {
    if [ -n "$sim_pid" ] && kill -0 "$sim_pid" 2>/dev/null; then
        kill -TERM "$sim_pid" 2>/dev/null || true
        wait "$sim_pid" 2>/dev/null || true
    fi
    rm -f "$WINEPREFIX/dosdevices/com5" "$WINEPREFIX/dosdevices/com12"
    "$wineserver" -k >/dev/null 2>&1 || true
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM HUP

# One server for the whole run, and Wine's own helper processes (services.exe and the rest)
# started here with no pipes attached: started by a test, they would inherit its output
# pipe and keep it open, and ctest would wait on it. The first start creates the prefix.
start_wine() {
    "$wineserver" -p </dev/null >/dev/null 2>&1
    "$wine" wineboot --init </dev/null >>"$build/wineboot.log" 2>&1
}
mkdir -p "$WINEPREFIX"
echo "test-windows: preparing the Wine prefix $WINEPREFIX"
start_wine
# Wine's null graphics driver lets windows be made without a display (the system-menu test
# makes one). Wine's own processes read the setting when they start, so they start again.
if ! grep -q '^"Graphics"="null"' "$WINEPREFIX/user.reg" 2>/dev/null; then
    "$wine" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f </dev/null \
        >/dev/null 2>&1
    "$wineserver" -k >/dev/null 2>&1 || true
    "$wineserver" -w
    start_wine
fi

mkdir -p "$WINEPREFIX/dosdevices"
"$sim" --link "$WINEPREFIX/dosdevices/com5" --log "$build/kt4500-sim.log" </dev/null \
    >"$build/kt4500-sim.out" 2>&1 &
sim_pid=$!
for _ in $(seq 100); do
    if [ -L "$WINEPREFIX/dosdevices/com5" ] || ! kill -0 "$sim_pid" 2>/dev/null; then
        break
    fi
    sleep 0.1
done
if [ ! -L "$WINEPREFIX/dosdevices/com5" ]; then
    echo "test-windows: kt4500-sim did not start:" >&2
    cat "$build/kt4500-sim.out" "$build/kt4500-sim.log" >&2 || true
    exit 1
fi
# The same reader as COM12: a port number with two digits, which opens only by its
# device-namespace name.
ln -sfn "$(readlink "$WINEPREFIX/dosdevices/com5")" "$WINEPREFIX/dosdevices/com12"
export KT4500_TEST_SIM_PORTS=5,12

status=0
(cd "$root" && ctest --preset windows) || status=$?
# A test program passes as a whole, so the cases it skipped would go unseen: name them.
grep -h -A1 ': Skipped$' "$build/Testing/Temporary/LastTest.log" \
    | grep -v -e ': Skipped$' -e '^--$' | sed 's/^/test-windows: skipped: /' || true
exit "$status"
