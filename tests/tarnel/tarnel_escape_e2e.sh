#!/usr/bin/env bash
# End to end: Escape while the ApplId box is up (the demo MC without its device bus), with the
# built tarnel against mcsim on a pseudo-terminal under a real X server. The pointer rests on
# the box, as a user's would, and Return follows Escape on it: had the box stayed up, Return
# would confirm the id it shows and write it. tarnel must end with exit code 0, send no EEPROM
# write and not start its follow-up command.
# Arguments: tarnel, mcsim, the demo folder.
set -u
TARNEL=$1
MCSIM=$2
DEMO=$3
source "$(dirname "$0")/../support/x11_e2e.sh"
source "$(dirname "$0")/tarnel_run.sh"

start_xvfb
grep -v '^bus ' "$DEMO/demo.scenario" >"$work/nobus.scenario"
start_mcsim "$MCSIM" "$work/nobus.scenario" --trace "$work/trace.txt"

install_tarnel "$TARNEL" "$DEMO"

# The bytes the PC sent, in one line; an EEPROM write block starts with the handshake 0xF8 and
# a byte count of 1..16 (a read asks with 0x80 + count).
pc_bytes() {
    awk '$4 == "PC>MC" { printf " %s", $5 }' "$work/trace.txt"
}

start_tarnel "touch '$work/follow up'"

wait_for 'xdotool search --onlyvisible --name "^Set VELON ApplId\$" >/dev/null 2>&1' 60 ||
    fail "no ApplId box appeared"
box=$(xdotool search --onlyvisible --name "^Set VELON ApplId\$" | head -n 1)
eval "$(xdotool getwindowgeometry --shell "$box" | grep -E '^(X|Y|WIDTH|HEIGHT)=')"
xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT / 2)) sleep 0.3 key Escape sleep 0.3 key Return

wait_for '[ -s "$work/exit-code" ]' 15 || fail "tarnel still runs after Escape"
code=$(cat "$work/exit-code")
[ "$code" = 0 ] || fail "tarnel ended with exit code $code"
sleep 0.5
[ ! -e "$work/follow up" ] || fail "the follow-up command ran after Escape"
pc_bytes | grep -q ' F8 81 00 FF' || fail "tarnel did not read the ApplId"
if pc_bytes | grep -Eq ' F8 (0[1-9A-F]|10) 00 FF'; then
    fail "an EEPROM write reached the MC after Escape"
fi
echo "Escape ended tarnel from its ApplId box, with nothing written and no follow-up command"
