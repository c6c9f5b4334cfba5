#!/usr/bin/env bash
# End to end: the built tarnel against mcsim on a pseudo-terminal, under a real X server. The
# window titled "TARNEL" must list the demo bus (DEMO, PUMP, MIXER); a click on PUMP must
# switch the simulated bus (0xFD, then slot 2's switch request 0x42), end the program and
# start the follow-up command.
# Arguments: tarnel, mcsim, the demo folder.
set -u
TARNEL=$1
MCSIM=$2
DEMO=$3
source "$(dirname "$0")/../support/x11_e2e.sh"
source "$(dirname "$0")/tarnel_run.sh"

start_xvfb
start_mcsim "$MCSIM" "$DEMO/demo.scenario" --trace "$work/trace.txt"

install_tarnel "$TARNEL" "$DEMO"
start_tarnel "touch '$work/follow up'"

wait_for 'xdotool search --onlyvisible --name "^TARNEL\$" >/dev/null 2>&1' 60 ||
    fail "no window titled TARNEL appeared"
window=$(xdotool search --onlyvisible --name "^TARNEL\$" | head -n 1)
# The second item of the list: group at (8, 8), items 30 pixels apart from 18 down.
xdotool mousemove --window "$window" 40 67 click 1
wait_for '[ -s "$work/exit-code" ]' 30 || fail "tarnel still runs after the click"
code=$(cat "$work/exit-code")
[ "$code" = 0 ] || fail "tarnel ended with exit code $code"
wait_for '[ -f "$work/follow up" ]' 10 || fail "the follow-up command did not run"
grep -q "PC>MC  42" "$work/trace.txt" || fail "no switch to slot 2 on the wire"
echo "tarnel listed the bus, switched it to PUMP and started the follow-up command"
