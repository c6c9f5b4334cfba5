#!/usr/bin/env bash
# Plays exchanges.table against one of the two MCs, in both application modes, then has the
# real mcload write and read the MC's EEPROM through the same link:
#   conformance.sh sim EXCHANGE_TABLE MCSIM MCLOAD REPO   mcsim on probe.scenario
#   conformance.sh s51 EXCHANGE_TABLE MCSIM MCLOAD REPO   probe.c with the driver, in s51
# Exit 77 (skipped) when the s51 run lacks sdcc, s51 or socat.
set -euo pipefail
target=$1 exchange=$2 mcsim=$3 mcload=$4 repo=$5
here="$repo/tests/firmware"
work=$(mktemp -d)
link="$work/link"
runner=""
cleanup() {
  if [ -n "$runner" ]; then kill "$runner" 2>/dev/null || true; wait "$runner" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

if [ "$target" = s51 ]; then
  for tool in sdcc s51 socat; do
    command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
  done
fi

wait_for_link() {
  for _ in $(seq 100); do
    [ -e "$link" ] && return 0
    kill -0 "$runner" 2>/dev/null || { echo "the MC did not start" >&2; return 1; }
    sleep 0.1
  done
  echo "no link at $link" >&2
  return 1
}

failed=0
for mode in obj adr; do
  if [ "$mode" = obj ]; then id=0x2A; else id=0x85; fi
  if [ "$target" = sim ]; then
    if [ "$mode" = adr ]; then base=comset; else base=0x80; fi
    sed -e "s/appl_id 0x2A/appl_id $id/" -e "s/write_base 0x80/write_base $base/" \
        "$here/probe.scenario" >"$work/probe-$mode.scenario"
    "$mcsim" "$work/probe-$mode.scenario" "$link" >"$work/mcsim.log" 2>&1 &
    runner=$!
  else
    defines=()
    [ "$mode" = adr ] && defines=(-DPROBE_ADR)
    DL_OPTIONS=-DDL_EEPROM "$repo/firmware/build.sh" "$work/$mode" "$here/probe.c" "${defines[@]}"
    # The table addresses COM_VARX at 0x08, where the linker puts the driver's first byte.
    grep -q '00000008  _COM_VARX ' "$work/$mode/probe.map" || {
      echo "COM_VARX is not at 0x08 in this build" >&2; exit 1; }
    "$repo/firmware/s51-link.sh" "$work/$mode/probe.ihx" "$link" 120 &
    runner=$!
  fi
  wait_for_link
  "$exchange" "$link" "$here/exchanges.table" "$mode" "$id" || failed=1
  if [ "$mode" = obj ]; then
    # mcload from an installation tree of its own, its COM at the link.
    mkdir -p "$work/tree/bin" "$work/tree/config"
    cp -f "$mcload" "$work/tree/bin/mcload"
    printf '[COM] the link\n%s\n' "$link" >"$work/tree/config/param.ini"
    printf ':02002000A55ADF\n:00000001FF\n' >"$work/in.hex"
    if "$work/tree/bin/mcload" write "$work/in.hex" --quiet &&
       "$work/tree/bin/mcload" read "$work/out.hex" --quiet; then
      # 0..3 as the MC holds them, the two bytes written at 0x20, the rest erased
      grep -q '^:10000000E0E1E2E3FFFFFFFFFFFFFFFFFFFFFFFF76$' "$work/out.hex" &&
        grep -q '^:10002000A55AFFFFFFFFFFFFFFFFFFFFFFFFFFFF' "$work/out.hex" &&
        [ "$(wc -l <"$work/out.hex")" -eq 17 ] ||
        { echo "mcload read gave:"; cat "$work/out.hex"; failed=1; }
    else
      echo "mcload failed"; failed=1
    fi
  fi
  kill "$runner"; wait "$runner" 2>/dev/null || true
  runner=""
  rm -f "$link"
done
exit $failed
