#!/usr/bin/env bash
# Runs the benchmarks from an optimised build folder: prints the table, writes build/bench.json
# (and the programs' log lines to build/bench.log). A figure that misses its goal is shown in
# the table; it never makes this script fail.
#   bench.sh [BUILD_FOLDER]   (default build/release)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-build/release}
bench=$build/kt4500-bench
out=$root/build
mkdir -p "$out"
if [ ! -x "$bench" ]; then
    echo "bench: $bench is missing; 'make bench' builds it" >&2
    exit 1
fi

sudo=()
if [ "$(id -u)" -ne 0 ]; then
    sudo=(sudo -n)
fi

# The peer: cutecom, Debian's Qt serial terminal. It is installed here and nowhere else, only
# so that the start of the window can be compared with a program of the same kind.
peer=()
if ! command -v cutecom >/dev/null; then
    echo "bench: installing cutecom, the program the window's start is compared with"
    if ! { DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends cutecom \
        || { "${sudo[@]}" apt-get update -qq \
            && DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends cutecom; }; } \
        >"$out/bench-apt.log" 2>&1; then
        echo "bench: cutecom could not be installed (see build/bench-apt.log)"
    fi
fi
if command -v cutecom >/dev/null; then
    peer=(--peer "cutecom=$(command -v cutecom)")
else
    peer=(--peer-missing "cutecom=could not be installed, see build/bench-apt.log")
fi

# An X display of our own, for the start of the windows.
work=$(mktemp -d)
xvfb=
cleanup() {
    if [ -n "$xvfb" ]; then
        kill "$xvfb" 2>/dev/null || true
        wait "$xvfb" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT
display=
if command -v Xvfb >/dev/null; then
    for n in 95 96 97 98 99; do
        [ -e "/tmp/.X$n-lock" ] && continue
        Xvfb ":$n" -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp \
            3>"$work/display" 2>"$work/xvfb.log" &
        xvfb=$!
        for _ in $(seq 200); do
            [ -s "$work/display" ] && break
            kill -0 "$xvfb" 2>/dev/null || break
            sleep 0.05
        done
        if [ -s "$work/display" ]; then
            display=:$n
            break
        fi
        kill "$xvfb" 2>/dev/null || true
        wait "$xvfb" 2>/dev/null || true
        xvfb=
    done
fi
# The tree measured, as the header and bench.json name it.
commit=$(git -C "$root" describe --always --dirty 2>/dev/null || echo unknown)
args=(--json "$out/bench.json" --log "$out/bench.log" --commit "$commit")
if [ -n "$display" ]; then
    args+=(--display "$display")
else
    echo "bench: no Xvfb display could be started; the start of the window is not measured"
fi

echo "bench: measuring (about a minute) ..."
"$bench" "${args[@]}" "${peer[@]}"
echo "bench: figures written to build/bench.json ('make bench-save' keeps them in docs/ and README)"
