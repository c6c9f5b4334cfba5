#!/usr/bin/env bash
# Runs an 8051 program (Intel HEX) in the simulator s51 with its UART on a pseudo-terminal at
# LINK, so the scope, mcrec or mcload can open LINK as their COM port. Stays in the foreground
# until it is stopped (SIGTERM or SIGINT), then stops s51 and socat and removes LINK.
#   firmware/s51-link.sh PROGRAM.ihx LINK [SECONDS]
# SECONDS (default 600) bounds the run: s51 keeps one core busy while it simulates.
#
# Why it is built this way: s51's UART is connected through two FIFOs (its TCP port option
# is not 8-bit clean) that socat bridges to the pseudo-terminal; uart0_check_often makes s51
# look at its input every instruction instead of once per 10^6; settings must come with -e
# before "run"; -t 8051 because the UART of -t 8052 in this version runs at twice the rate.
set -euo pipefail
[ $# -ge 2 ] || { echo "usage: $0 PROGRAM.ihx LINK [SECONDS]" >&2; exit 2; }
program=$1
link=$2
seconds=${3:-600}
for tool in s51 socat; do
  command -v "$tool" >/dev/null || { echo "$0: $tool is not installed" >&2; exit 77; }
done

work=$(mktemp -d)
s51_pid=""
socat_pid=""
stop() {
  [ -n "$socat_pid" ] && kill "$socat_pid" 2>/dev/null
  [ -n "$s51_pid" ] && kill "$s51_pid" 2>/dev/null
  [ -n "$socat_pid" ] && wait "$socat_pid" 2>/dev/null
  [ -n "$s51_pid" ] && wait "$s51_pid" 2>/dev/null
  rm -rf "$work"
  rm -f "$link"
}
trap stop EXIT
trap 'exit 0' TERM INT

mkfifo "$work/rx" "$work/tx"
# Held open both ways here so that neither s51 nor socat blocks opening its end.
exec 3<>"$work/rx" 4<>"$work/tx"
mkdir -p "$(dirname "$link")"
timeout "$seconds" s51 -t 8051 -S "in=$work/rx,out=$work/tx" -e 'uart0_check_often=1' \
  -e run "$program" </dev/null >"$work/s51.log" 2>&1 &
s51_pid=$!
timeout "$seconds" socat "PTY,link=$link,raw,echo=0" "PIPE:$work/tx!!PIPE:$work/rx" \
  </dev/null >"$work/socat.log" 2>&1 &
socat_pid=$!
wait -n "$s51_pid" "$socat_pid" || true
