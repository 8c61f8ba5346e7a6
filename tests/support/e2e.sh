# Shell helpers of the end-to-end tests: sourced, not run.
#   e2e_need TOOL...       exit 77 (skipped) unless every tool is installed
#   e2e_workdir            sets $work to a new temporary folder, removed at exit with every
#                          process recorded by e2e_track
#   e2e_track PID          kill PID at exit
#   wait_for SECONDS CMD   runs CMD every 0.1 s until it succeeds; false after SECONDS
#   start_xvfb             starts Xvfb on a free display and exports DISPLAY
#   write_settings_key_without_values FILE
#                          writes FILE as the package installs it: the settings key, no values
#   fail MESSAGE           prints FAIL, the program and simulator logs if any, exits 1

e2e_need() {
    local tool
    for tool in "$@"; do
        command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
    done
}

e2e_pids=()
e2e_track() { e2e_pids+=("$1"); }
e2e_cleanup() {
    local pid
    for pid in "${e2e_pids[@]}"; do kill "$pid" 2>/dev/null; done
    wait 2>/dev/null
    rm -rf "$work"
}
e2e_workdir() {
    work=$(mktemp -d)
    trap e2e_cleanup EXIT
}

fail() {
    echo "FAIL: $*"
    if [ -s "$work/app.log" ]; then echo "--- program log"; cat "$work/app.log"; fi
    if [ -s "$work/sim.log" ]; then echo "--- simulator log"; tail -n 30 "$work/sim.log"; fi
    exit 1
}

wait_for() {
    local tenths=$(($1 * 10)) i
    shift
    for ((i = 0; i < tenths; i++)); do "$@" && return 0; sleep 0.1; done
    return 1
}

# Xvfb picks a free display itself and reports its number on the descriptor.
start_xvfb() {
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
    e2e_track $!
    wait_for 20 test -s "$work/display" || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
    export DISPLAY=:$(head -n1 "$work/display") QT_QPA_PLATFORM=xcb
    unset QT_SCALE_FACTOR QT_SCREEN_SCALE_FACTORS
}

write_settings_key_without_values() {
    printf 'REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\TALVO\\ReaderConfig]\n' >"$1"
}
