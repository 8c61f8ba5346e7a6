#!/usr/bin/env bash
# The real kt4500-config under Xvfb, driven with xdotool as a person would: the window shows
# its title and size, a click on the traditional-Chinese picture switches the language and
# saves it, and Exit ends the program with code 0.
#   window_e2e.sh PATH/TO/kt4500-config
# Exit code 77 (skipped) without Xvfb, xdotool or xwininfo. With KT_E2E_SCREENSHOTS set to a
# folder, a screenshot of the window in each language lands there.
set -u
program=${1:?usage: window_e2e.sh PATH/TO/kt4500-config}
for tool in Xvfb xdotool xwininfo; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done

work=$(mktemp -d)
xvfb_pid= app_pid=
cleanup() {
    [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*; program log: $(cat "$work/app.log" 2>/dev/null)"; exit 1; }
# Polls a command every 0.1 s for at most $1 seconds.
wait_for() {
    local tenths=$(($1 * 10)); shift
    for ((i = 0; i < tenths; i++)); do "$@" && return 0; sleep 0.1; done
    return 1
}

# Xvfb picks a free display itself and reports its number on the descriptor.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
wait_for 20 test -s "$work/display" || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
export DISPLAY=:$(head -n1 "$work/display") QT_QPA_PLATFORM=xcb
mkdir -p "$work/ports" "$work/home"
export KT4500_SETTINGS=$work/ReaderConfig.reg KT4500_PORT_DIR=$work/ports HOME=$work/home
export ASAN_OPTIONS=detect_leaks=0
unset QT_SCALE_FACTOR QT_SCREEN_SCALE_FACTORS

"$program" >"$work/app.log" 2>&1 &
app_pid=$!
english='TALVO KT4500 Reader Config V3.20-01'
window=$(timeout 30 xdotool search --sync --onlyvisible --name "^${english}\$" | head -n1)
[ -n "$window" ] || fail "no window titled '$english'"
title_is() { [ "$(xdotool getwindowname "$window")" = "$1" ]; }
title_is "$english" || fail "window title is '$(xdotool getwindowname "$window")'"
size=$(xwininfo -id "$window" | awk '/Width:/ {w = $2} /Height:/ {h = $2} END {print w "x" h}')
[ "$size" = 560x425 ] || fail "client area is $size"

click_at() { xdotool mousemove --window "$window" "$1" "$2" click 1; }
saved() { grep -q '^"LanguageFlag"="'"$1"'"' "$KT4500_SETTINGS" 2>/dev/null; }
screenshot() {
    [ -n "${KT_E2E_SCREENSHOTS:-}" ] && command -v import >/dev/null || return 0
    mkdir -p "$KT_E2E_SCREENSHOTS" && sleep 0.5 # let the window repaint
    import -window "$window" "$KT_E2E_SCREENSHOTS/$1.png"
}
screenshot English
if [ -n "${KT_E2E_SCREENSHOTS:-}" ]; then
    click_at 457 348 # btnGB
    wait_for 10 saved ChineseGB || fail "ChineseGB was not saved"
    screenshot ChineseGB
fi

click_at 523 348 # btnBIG5: 492 + 31, 336 + 12
wait_for 10 saved ChineseBIG5 || fail "no \"LanguageFlag\"=\"ChineseBIG5\" in the store"
wait_for 10 title_is 'TALVO KT4500 讀卡機設定程式 V3.20-01' || fail "title did not switch"
screenshot ChineseBIG5

click_at 456 384 # btnExit: 360 + 96, 368 + 16
wait_for 10 eval '! kill -0 "$app_pid" 2>/dev/null' || fail "the program still runs after Exit"
wait "$app_pid"
code=$?
app_pid=
[ "$code" = 0 ] || fail "exit code $code"
echo PASS
