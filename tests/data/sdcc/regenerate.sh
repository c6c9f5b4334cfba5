#!/usr/bin/env bash
# Rebuilds tank.omf from tank.c with SDCC (installed when missing), the object file the
# variable-table tests load; the tests need only the committed tank.omf.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
exec "$here/../../../demo/sdcc/build.sh" "$here/tank.c"
