#!/usr/bin/env bash
# Rebuilds tank.omf from tank.c with SDCC, the object file the variable-table tests load. The
# tests need only the committed tank.omf; this script installs the Debian package sdcc when it
# is missing (as root, or with sudo). The fixture was made with SDCC 4.2 (Debian 12); another
# version may place the variables elsewhere, and the tests say so.
set -euo pipefail
cd "$(dirname "$0")"

if ! command -v sdcc >/dev/null; then
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  $SUDO apt-get update
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y sdcc
fi
sdcc --version | head -1

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp tank.c "$work/"
(cd "$work" && sdcc --debug -mmcs51 tank.c)
cp "$work/tank.omf" tank.omf
echo "tank.omf: $(stat -c %s tank.omf) bytes"
