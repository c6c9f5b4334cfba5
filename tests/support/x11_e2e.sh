# Shared by the end-to-end scripts that run a built program against mcsim on a
# pseudo-terminal under a real X server. Source it; it sets up $work, cleanup, fail, wait_for,
# start_xvfb and start_mcsim. Exit code 77 (skipped) without Xvfb or xdotool.

for tool in Xvfb xdotool; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "skipped: $tool is not installed"
        exit 77
    fi
done

work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*"
    for log in "$work"/*.log; do
        echo "--- $(basename "$log")"
        cat "$log"
    done
    exit 1
}

# Polls a condition every 0.1 s for up to the given seconds.
wait_for() {
    local limit=$(($(date +%s) + $2))
    until eval "$1"; do
        [ "$(date +%s)" -lt "$limit" ] || return 1
        sleep 0.1
    done
}

# A display number nobody uses: Xvfb picks it and writes it once it accepts clients.
# -noreset: by default the server resets whenever its last client leaves, and a reset drops
# every connection still in its handshake. The polls below connect and leave ten times a
# second, so a program starting meanwhile would now and then find "could not connect to
# display" (1 run in 6 of scope_exit_e2e did, 5 connections in 300 beside such a poll).
start_xvfb() {
    Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp -noreset 3>"$work/display" \
        >"$work/xvfb.log" 2>&1 &
    pids+=($!)
    wait_for '[ -s "$work/display" ]' 20 || fail "Xvfb did not start"
    export DISPLAY=":$(head -n 1 "$work/display")"
}

# start_mcsim MCSIM SCENARIO [OPTIONS...]: the simulated MC at $work/mc.
start_mcsim() {
    local mcsim=$1 scenario=$2
    shift 2
    "$mcsim" "$@" "$scenario" "$work/mc" >"$work/mcsim.log" 2>&1 &
    pids+=($!)
    wait_for '[ -L "$work/mc" ]' 20 || fail "mcsim did not publish its link"
}
