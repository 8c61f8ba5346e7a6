#!/usr/bin/env bash
# The port that kt4500-config and kt4500ctl hold while they read cards from kt4500-sim:
# 1. every way the program can be made to end releases it. Its lock file is gone and another,
#    unprivileged user can open the device right after (root passes the exclusive flag, so
#    that open runs as nobody when we are root).
# 2. the window started with standard input, output or error closed never takes one of those
#    descriptors for the port, where its own output would go out on the serial line.
#   port_e2e.sh PATH/TO/kt4500-config PATH/TO/kt4500-sim PATH/TO/kt4500ctl
# Exit code 77 (skipped) without Xvfb, xdotool or setpriv (as root).
set -u
program=${1:?usage: port_e2e.sh KT4500-CONFIG KT4500-SIM KT4500CTL}
sim=${2:?usage: port_e2e.sh KT4500-CONFIG KT4500-SIM KT4500CTL}
ctl=${3:?usage: port_e2e.sh KT4500-CONFIG KT4500-SIM KT4500CTL}
source "$(dirname "$0")/../support/e2e.sh"
e2e_need Xvfb xdotool
[ "$(id -u)" != 0 ] || e2e_need setpriv
e2e_workdir
polls() { grep -ac '|.A00F0E.|' "$work/sim.log"; }
mkdir -p "$work/ports" "$work/home"
export KT4500_SETTINGS=$work/ReaderConfig.reg KT4500_PORT_DIR=$work/ports HOME=$work/home
export ASAN_OPTIONS=detect_leaks=0
write_settings_key_without_values "$KT4500_SETTINGS"
printf '"ScanCommNo"=dword:00000003\n"ScanBaudRate"="19200,e,8,1"\n' >>"$KT4500_SETTINGS"

mkfifo "$work/sim.in"
"$sim" --link "$work/ports/COM3" --log "$work/sim.log" <"$work/sim.in" >"$work/sim.out" 2>&1 &
e2e_track $!
exec 4>"$work/sim.in"
wait_for 20 test -e "$work/ports/COM3" || fail "the simulator did not link COM3"
echo "card 00BC614E" >&4
device=$(readlink -f "$work/ports/COM3")
lock_name=${device#/dev/}
lock_file=/run/lock/LCK..${lock_name//\//_}
# Only the exclusive flag may keep another user out: the device's mode lets everyone in.
chmod 0666 "$device"
opens_as_other_user() {
    if [ "$(id -u)" = 0 ]; then
        setpriv --reuid=65534 --regid=65534 --clear-groups bash -c 'exec 5<>"$1"' _ "$device"
    else
        bash -c 'exec 5<>"$1"' _ "$device"
    fi 2>/dev/null
}

# Starts the window on a display of its own (Xvfb's PID in $xvfb_pid) with the redirections
# given, scans and starts Read Card; $app_pid is the window's PID.
start_reading_window() {
    rm -f "$work/display" # where start_xvfb reads the new display's number
    start_xvfb
    xvfb_pid=${e2e_pids[-1]}
    ( eval "$1"; exec "$program" ) &
    app_pid=$!
    e2e_track "$app_pid"
    window=$(timeout 30 xdotool search --sync --onlyvisible --name '^TALVO KT4500 Reader Config' \
        | head -n1)
    [ -n "$window" ] || fail "no window"
    local modes=$(grep -ac 'rx 09 41 30 30 41 30 39 0D' "$work/sim.log")
    xdotool mousemove --window "$window" 180 94 click 1 # btnScan
    wait_for 30 eval '[ "$(grep -ac "rx 09 41 30 30 41 30 39 0D" "$work/sim.log")" -gt "$modes" ]' \
        || fail "the scan did not find the reader"
    sleep 0.5
    local before=$(polls)
    xdotool mousemove --window "$window" 180 384 click 1 # btnReadCard
    wait_for 20 eval '[ "$(polls)" -gt "$((before + 2))" ]' || fail "no polls from the window"
}

ended() { ! kill -0 "$app_pid" 2>/dev/null; }

# 1. The ways out, each while the card loop holds the port.
for way in window:TERM window:INT window:HUP window:client-killed window:display-lost \
    kt4500ctl:TERM kt4500ctl:INT; do
    echo "--- $way"
    if [ "${way%%:*}" = window ]; then
        start_reading_window 'exec >"$work/app.log" 2>&1'
    else
        before=$(polls)
        "$ctl" read-cards --every-poll >"$work/app.log" 2>&1 &
        app_pid=$!
        e2e_track "$app_pid"
        wait_for 20 eval '[ "$(polls)" -gt "$((before + 2))" ]' || fail "no polls from kt4500ctl"
    fi
    [ -e "$lock_file" ] || [ ! -w /run/lock ] || fail "$way: no lock file $lock_file while held"
    ! opens_as_other_user || fail "$way: another user opened the port while it was held"
    case ${way#*:} in
    TERM | INT | HUP) kill -s "${way#*:}" "$app_pid" ;;
    client-killed) xdotool windowkill "$window" ;; # what a window manager's forced close does
    display-lost) kill "$xvfb_pid" ;;
    esac
    wait_for 10 ended || fail "$way: the program still runs"
    wait "$app_pid"
    app_pid=
    [ ! -e "$lock_file" ] || fail "$way: the lock file $lock_file was left"
    opens_as_other_user || fail "$way: the port stayed exclusive after the program ended"
    [ "${way%%:*}" != window ] || kill "$xvfb_pid" 2>/dev/null
done

# 2. A standard descriptor closed at start is taken by the null device, not by the port.
for closed in 0 1 2; do
    echo "--- window started with descriptor $closed closed"
    start_reading_window "exec >\"\$work/app.log\" 2>&1 $closed>&-"
    target=$(readlink "/proc/$app_pid/fd/$closed")
    [ "$target" = /dev/null ] || fail "descriptor $closed is $target while the port is open"
    kill -s TERM "$app_pid"
    wait_for 10 ended || fail "the program still runs"
    wait "$app_pid"
    app_pid=
    kill "$xvfb_pid" 2>/dev/null
done
! grep -aq ignored "$work/sim.log" || fail "the reader got bytes that are no frame"
echo PASS
