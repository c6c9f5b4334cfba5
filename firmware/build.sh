#!/usr/bin/env bash
# Builds the debug-link driver and, when given, an application with it, and prints the
# driver's budgets (code, internal RAM, stack inside the interrupt).
#   firmware/build.sh OUTDIR [APP.c [SDCC OPTIONS...]]
# The driver's own options (see debuglink.c) come from DL_OPTIONS, e.g.
#   DL_OPTIONS="-DDL_PAGE1_IDATA" firmware/build.sh out app.c
# The application is built with --debug, so OUTDIR/APP.omf carries the variables the scope
# lists, and --idata-loc 0x50 unless the options say otherwise, so the stack starts above
# variables placed with __at below 0x50. Fails when a budget is exceeded or SDCC warns.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
[ $# -ge 1 ] || { echo "usage: $0 OUTDIR [APP.c [SDCC OPTIONS...]]" >&2; exit 2; }
out=$1
shift
command -v sdcc >/dev/null || { echo "$0: sdcc is not installed" >&2; exit 77; }
mkdir -p "$out"

log=$(cd "$out" && sdcc -c --debug -mmcs51 ${DL_OPTIONS:-} "$here/debuglink.c" 2>&1) || {
  echo "$log" >&2; exit 1; }
if [ -n "$log" ]; then echo "$log" >&2; echo "$0: SDCC warned about the driver" >&2; exit 1; fi

# Area sizes (hexadecimal) from the driver's symbol file.
area() {
  local size
  size=$(awk -v a="$1" '$2 == a && $3 == "size" { print $4 }' "$out/debuglink.sym")
  echo $(( 16#${size:-0} ))
}
code=$(( $(area CSEG) + $(area CONST) ))
data=$(( $(area DSEG) + $(area OSEG) + $(area ISEG) ))
bits=$(area BSEG)
# Inside the interrupt: the return address, six saved registers, one call into the SFR table;
# with the EEPROM hooks, R1..R7, the value and the call instead, and the hooks' own.
stack="10 bytes"
case " ${DL_OPTIONS:-} " in *" -DDL_EEPROM "*) stack="18 bytes + the EEPROM hooks' own" ;; esac
echo "debuglink budgets: code $code bytes (limit 1024), internal RAM $data bytes + $bits bits" \
     "(limit 12 bytes), interrupt stack $stack"
if [ "$code" -gt 1024 ] || [ $(( data + (bits + 7) / 8 )) -gt 12 ]; then
  echo "$0: a budget is exceeded" >&2
  exit 1
fi

[ $# -ge 1 ] || exit 0
app=$1
shift
name=$(basename "$app" .c)
options=("$@")
case " ${options[*]:-} " in
  *" --idata-loc "*|*" --stack-loc "*) ;;
  *) options+=(--idata-loc 0x50) ;;
esac
source=$(cd "$(dirname "$app")" && pwd)/$name.c
(cd "$out" && sdcc --debug -mmcs51 -I"$here" "${options[@]}" "$source" debuglink.rel)
echo "$out/$name.ihx, $out/$name.omf: $(grep -o 'ROM/EPROM/FLASH.*' "$out/$name.mem" | awk '{print $4}') bytes of code"
