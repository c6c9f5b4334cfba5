#!/usr/bin/env bash
# Rebuilds the object file of an SDCC program, as a user builds an application for the scope.
#   demo/sdcc/build.sh                 oven.omf, oven.cdb and oven.rst from oven.c with the
#                                      debug-link driver of firmware/ (firmware/build.sh;
#                                      oven.ihx is dropped): the scope takes the variables
#                                      from oven.cdb, typed, and the compiler-placed bits'
#                                      addresses from oven.rst, both of the same run
#   demo/sdcc/build.sh PATH/NAME.c     NAME.omf beside it, from "sdcc --debug -mmcs51 NAME.c"
#                                      alone (tests/data/sdcc/regenerate.sh)
# Installs the Debian package sdcc when it is missing (as root, or with sudo). The committed
# object files were made with SDCC 4.2 (Debian 12); another version may place variables
# elsewhere, and the tests that compare addresses then say so.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

if ! command -v sdcc >/dev/null; then
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  $SUDO apt-get update
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y sdcc
fi
sdcc --version | head -1

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
if [ $# -eq 0 ]; then
  "$here/../../firmware/build.sh" "$work" "$here/oven.c"
  for file in oven.omf oven.cdb oven.rst; do
    cp "$work/$file" "$here/$file"
    echo "$here/$file: $(stat -c %s "$here/$file") bytes"
  done
  exit 0
fi
for source in "$@"; do
  name=$(basename "$source" .c)
  cp "$source" "$work/$name.c"
  (cd "$work" && sdcc --debug -mmcs51 "$name.c")
  cp "$work/$name.omf" "$(dirname "$source")/$name.omf"
  echo "$(dirname "$source")/$name.omf: $(stat -c %s "$work/$name.omf") bytes"
done
