#!/usr/bin/env bash
# The real kt4500-config and kt4500-sim, as a technician uses them: a click on Scan Reader
# finds the simulated reader on COM3 and saves where; moving the ID bar and Set Reader ID
# change the reader's ID; Read Card shows a presented card and Cancel stops the polling.
#   reader_e2e.sh PATH/TO/kt4500-config PATH/TO/kt4500-sim
# Exit code 77 (skipped) without Xvfb, xdotool or xwininfo.
set -u
program=${1:?usage: reader_e2e.sh KT4500-CONFIG KT4500-SIM}
sim=${2:?usage: reader_e2e.sh KT4500-CONFIG KT4500-SIM}
for tool in Xvfb xdotool xwininfo; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done

work=$(mktemp -d)
xvfb_pid= app_pid= sim_pid=
cleanup() {
    [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
    exec 4>&- 2>/dev/null
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "FAIL: $*"
    echo "--- program log"; cat "$work/app.log" 2>/dev/null
    echo "--- simulator log"; tail -n 30 "$work/sim.log" 2>/dev/null
    exit 1
}
wait_for() {
    local tenths=$(($1 * 10)); shift
    for ((i = 0; i < tenths; i++)); do "$@" && return 0; sleep 0.1; done
    return 1
}
logged() { grep -aq -- "$1" "$work/sim.log" 2>/dev/null; }
stored() { grep -q -- "$1" "$KT4500_SETTINGS" 2>/dev/null; }

Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
wait_for 20 test -s "$work/display" || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
export DISPLAY=:$(head -n1 "$work/display") QT_QPA_PLATFORM=xcb
mkdir -p "$work/ports" "$work/home"
export KT4500_SETTINGS=$work/ReaderConfig.reg KT4500_PORT_DIR=$work/ports HOME=$work/home
export ASAN_OPTIONS=detect_leaks=0
unset QT_SCALE_FACTOR QT_SCREEN_SCALE_FACTORS
# An installed machine whose settings hold nothing yet: the defaults, 19200,e,8,1, apply.
printf 'REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\TALVO\\ReaderConfig]\n' >"$KT4500_SETTINGS"

mkfifo "$work/sim.in"
"$sim" --link "$work/ports/COM3" --log "$work/sim.log" <"$work/sim.in" >"$work/sim.out" 2>&1 &
sim_pid=$!
exec 4>"$work/sim.in"
wait_for 20 test -e "$work/ports/COM3" || fail "the simulator did not link COM3"

"$program" >"$work/app.log" 2>&1 &
app_pid=$!
window=$(timeout 30 xdotool search --sync --onlyvisible --name '^TALVO KT4500 Reader Config' | head -n1)
[ -n "$window" ] || fail "no window"
click_at() { xdotool mousemove --window "$window" "$1" "$2" click 1; }

click_at 180 94 # btnScan: 8 + 172, 78 + 16
wait_for 30 stored '"ScanCommNo"=dword:00000003' || fail "the scan saved no port 3"
stored '"ScanBaudRate"="19200,e,8,1"' || fail "the scan saved other line settings"
wait_for 10 logged 'rx 09 41 30 30 41 30 39 0D' || fail "no mode query after the find"

for _ in 1 2 3 4 5 6; do click_at 345 134; sleep 0.1; done # sbID's right arrow: 1 -> 7
sleep 0.3
click_at 180 166 # btnID
wait_for 20 logged '|.A00C1234567807' || fail "no set ID command for 07"
wait_for 10 logged ' id 07$' || fail "the reader's ID did not become 07"

echo "card 00BC614E" >&4
click_at 180 384 # btnReadCard
wait_for 20 logged 'tx .*CARD:00BC614E' || fail "no card reply while the loop runs"
click_at 180 384 # the same button, now Cancel Read Card
sleep 1.5
polls=$(grep -ac '|.A00F0E.|' "$work/sim.log")
sleep 1
[ "$(grep -ac '|.A00F0E.|' "$work/sim.log")" = "$polls" ] || fail "polling went on after Cancel"

click_at 456 384 # btnExit
wait_for 10 eval '! kill -0 "$app_pid" 2>/dev/null' || fail "the program still runs after Exit"
wait "$app_pid"
code=$?
app_pid=
[ "$code" = 0 ] || fail "exit code $code"
echo PASS
