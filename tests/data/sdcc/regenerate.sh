#!/usr/bin/env bash
# Rebuilds the SDCC fixtures the variable-table tests load; the tests need only the committed
# files. tank.omf from tank.c (the object file), and kiln.cdb with kiln.rst from kiln.c (the
# debug file, and the relocated listing that gives the bits SDCC placed itself). SDCC is
# installed when missing (demo/sdcc/build.sh).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
"$here/../../../demo/sdcc/build.sh" "$here/tank.c"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$here/kiln.c" "$work/"
(cd "$work" && sdcc --debug -mmcs51 kiln.c)
cp "$work/kiln.cdb" "$work/kiln.rst" "$here/"
echo "$here/kiln.cdb: $(wc -l <"$here/kiln.cdb") lines"
