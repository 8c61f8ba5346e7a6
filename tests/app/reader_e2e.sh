#!/usr/bin/env bash
# The real kt4500-config and kt4500-sim, as a technician uses them: a click on Scan Reader
# finds the simulated reader on COM3 and saves where; moving the ID bar and Set Reader ID
# change the reader's ID; Read Card shows a presented card and Cancel stops the polling.
#   reader_e2e.sh PATH/TO/kt4500-config PATH/TO/kt4500-sim
# Exit code 77 (skipped) without Xvfb, xdotool or xwininfo.
set -u
program=${1:?usage: reader_e2e.sh KT4500-CONFIG KT4500-SIM}
sim=${2:?usage: reader_e2e.sh KT4500-CONFIG KT4500-SIM}
source "$(dirname "$0")/../support/e2e.sh"
e2e_need Xvfb xdotool xwininfo
e2e_workdir
logged() { grep -aq -- "$1" "$work/sim.log" 2>/dev/null; }
stored() { grep -q -- "$1" "$KT4500_SETTINGS" 2>/dev/null; }
start_xvfb
mkdir -p "$work/ports" "$work/home"
export KT4500_SETTINGS=$work/ReaderConfig.reg KT4500_PORT_DIR=$work/ports HOME=$work/home
export ASAN_OPTIONS=detect_leaks=0
# An installed machine whose settings hold nothing yet: the defaults, 19200,e,8,1, apply.
write_settings_key_without_values "$KT4500_SETTINGS"

mkfifo "$work/sim.in"
"$sim" --link "$work/ports/COM3" --log "$work/sim.log" <"$work/sim.in" >"$work/sim.out" 2>&1 &
e2e_track $!
exec 4>"$work/sim.in"
wait_for 20 test -e "$work/ports/COM3" || fail "the simulator did not link COM3"

"$program" >"$work/app.log" 2>&1 &
app_pid=$!
e2e_track "$app_pid"
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
