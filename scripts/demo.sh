#!/usr/bin/env bash
# The window against the reader simulator on COM3, with a temporary port folder and a
# temporary settings file, so nothing of the machine's own ports or settings is touched.
# Usage: scripts/demo.sh BUILD_DIR
set -euo pipefail

if [ $# -ne 1 ]; then
    echo "usage: $0 BUILD_DIR" >&2
    exit 2
fi
build=$(cd "$1" && pwd)
for program in kt4500-sim kt4500-config; do
    if [ ! -x "$build/$program" ]; then
        echo "demo: $build/$program is missing; build first (make demo)" >&2
        exit 1
    fi
done
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "demo: no display: neither DISPLAY nor WAYLAND_DISPLAY is set." >&2
    echo "demo: run it from a desktop session, or under a virtual one: xvfb-run make demo" >&2
    exit 1
fi

tmp=$(mktemp -d "${TMPDIR:-/tmp}/kt4500-demo.XXXX")
sim_pid=
cleanup() {
    if [ -n "$sim_pid" ] && kill -0 "$sim_pid" 2>/dev/null; then
        kill -TERM "$sim_pid" 2>/dev/null || true
        wait "$sim_pid" 2>/dev/null || true
    fi
    rm -rf "$tmp"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM HUP

mkdir "$tmp/ports"
mkfifo "$tmp/sim.in"
# Opened for reading and writing, the pipe never reaches its end when an echo into it
# closes, so the simulator reads every command sent to it.
"$build/kt4500-sim" --link "$tmp/ports/COM3" --log "$tmp/sim.log" \
    0<>"$tmp/sim.in" >"$tmp/sim.out" &
sim_pid=$!

# The simulator says "ready" once its link is in place.
for _ in $(seq 100); do
    if grep -q '^ready ' "$tmp/sim.out" 2>/dev/null; then
        break
    fi
    if ! kill -0 "$sim_pid" 2>/dev/null; then
        echo "demo: the simulator did not start:" >&2
        cat "$tmp/sim.log" >&2 || true
        exit 1
    fi
    sleep 0.1
done
if ! grep -q '^ready ' "$tmp/sim.out"; then
    echo "demo: the simulator did not come up within 10 s" >&2
    exit 1
fi

cat <<EOF
demo: simulated reader on COM3 (S/N 12345678, ID 01, 19200,e,8,1). Click "Scan Reader".
demo: present a card (start "Read Card" first) and take it away again:
    echo "card 00BC614E" > $tmp/sim.in
    echo "nocard" > $tmp/sim.in
demo: other commands (faults, state): $build/kt4500-sim --help
demo: simulator log: $tmp/sim.log    its answers: $tmp/sim.out
demo: everything in $tmp goes when the window closes.
EOF

# The settings key without values, as an installation leaves it: the window then starts
# from the key's defaults (19200,e,8,1), which are the simulated reader's line settings.
printf 'REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\TALVO\\ReaderConfig]\n' \
    >"$tmp/ReaderConfig.reg"

status=0
KT4500_PORT_DIR="$tmp/ports" KT4500_SETTINGS="$tmp/ReaderConfig.reg" \
    ASAN_OPTIONS=detect_leaks=0 "$build/kt4500-config" || status=$?
exit "$status"
