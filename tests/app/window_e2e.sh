#!/usr/bin/env bash
# The real kt4500-config under Xvfb, driven with xdotool as a person would: the window shows
# its title and size, a click on the traditional-Chinese picture switches the language and
# saves it, and Exit ends the program with code 0.
#   window_e2e.sh PATH/TO/kt4500-config
# Exit code 77 (skipped) without Xvfb, xdotool or xwininfo. With KT_E2E_SCREENSHOTS set to a
# folder, a screenshot of the window in each language lands there.
set -u
program=${1:?usage: window_e2e.sh PATH/TO/kt4500-config}
source "$(dirname "$0")/../support/e2e.sh"
e2e_need Xvfb xdotool xwininfo
e2e_workdir
start_xvfb
mkdir -p "$work/ports" "$work/home"
export KT4500_SETTINGS=$work/ReaderConfig.reg KT4500_PORT_DIR=$work/ports HOME=$work/home
export ASAN_OPTIONS=detect_leaks=0

"$program" >"$work/app.log" 2>&1 &
app_pid=$!
e2e_track "$app_pid"
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
