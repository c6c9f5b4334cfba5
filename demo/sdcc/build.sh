#!/usr/bin/env bash
# Rebuilds oven.omf from oven.c with SDCC, as a user builds an application for the scope:
#     sdcc --debug -mmcs51 oven.c
# Installs the Debian package sdcc when it is missing (as root, or with sudo). The committed
# oven.omf was made with SDCC 4.2 (Debian 12); oven.scenario places the simulated variables at
# its addresses, and the tests check that the two agree.
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
cp oven.c "$work/"
(cd "$work" && sdcc --debug -mmcs51 oven.c)
cp "$work/oven.omf" oven.omf
echo "oven.omf: $(stat -c %s oven.omf) bytes"
