#!/usr/bin/env bash
# Installs the Debian packages that a make target needs, and nothing else.
# Idempotent: installs only what is missing, and runs apt-get update at most once.
#   setup.sh demo      the window and the simulator: compiler, CMake, Ninja, Qt, ALSA, a CJK font
#   setup.sh test      the test suite too: GoogleTest, Xvfb and xdotool, the package and
#                      man page checkers, clang for fuzzing, MinGW-w64 and Wine for Windows
#   setup.sh GROUP...  several groups: demo, test, fuzz, windows, bench
set -euo pipefail

demo=(cmake g++ make ninja-build pkg-config qt6-base-dev qt6-base-dev-tools libgl-dev
    libasound2-dev fonts-wqy-microhei)
# The end-to-end tests drive the window under Xvfb with xdotool and measure it with xwininfo
# (x11-utils); the package test checks the .deb and its desktop files; the man pages are
# checked with groff and man (man-db); git and clang-format for the format check.
checks=(libgtest-dev libgmock-dev xvfb xauth xdotool x11-utils dpkg-dev desktop-file-utils
    appstream groff-base man-db git clang-format)
fuzz=(clang libclang-rt-14-dev)
windows=(g++-mingw-w64-x86-64-posix wine64 wine googletest)
# The benchmarks start the window on an Xvfb display of their own.
bench=(xvfb)

packages=()
for group in "${@:-test}"; do
    case $group in
        demo) packages+=("${demo[@]}") ;;
        test) packages+=("${demo[@]}" "${checks[@]}" "${fuzz[@]}" "${windows[@]}") ;;
        fuzz) packages+=("${demo[@]}" "${fuzz[@]}") ;;
        windows) packages+=("${demo[@]}" "${windows[@]}") ;;
        bench) packages+=("${demo[@]}" "${bench[@]}") ;;
        *)
            echo "setup: unknown group '$group' (demo, test, fuzz, windows, bench)" >&2
            exit 2
            ;;
    esac
done

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done
mapfile -t missing < <(printf '%s\n' "${missing[@]}" | awk 'NF && !seen[$0]++')

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

sudo=()
if [ "$(id -u)" -ne 0 ]; then
    sudo=(sudo)
fi
echo "setup: installing ${missing[*]}"
"${sudo[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
