#!/usr/bin/env bash
# End to end: the built ombrix against mcsim on a pseudo-terminal, under a real X server. The
# window titled "OMBRIX" must appear; Escape pressed while none of its windows has the focus
# must end the program with exit code 0 after it wrote recent.dsw.
# Arguments: ombrix, mcsim, the demo folder. Exit code 77 (skipped) without Xvfb or xdotool.
set -u
OMBRIX=$1
MCSIM=$2
DEMO=$3

source "$(dirname "$0")/../support/x11_e2e.sh"

start_xvfb
start_mcsim "$MCSIM" "$DEMO/demo.scenario"

# An installation of its own: the program in ROOT/bin, its parameter file beside it.
mkdir -p "$work/root/bin"
cp "$OMBRIX" "$work/root/bin/ombrix"
printf '[COM]\n%s\n[FILE_PATH]\n%s\n' "$work/mc" "$DEMO" >"$work/root/bin/ombrix.ini"

# Under the sanitizer build, leaks of the system libraries the X11 platform loads are not ours.
export LSAN_OPTIONS="${LSAN_OPTIONS:+$LSAN_OPTIONS:}suppressions=$(dirname "$0")/../support/lsan-system.supp"
(
    QT_QPA_PLATFORM=xcb "$work/root/bin/ombrix" >"$work/ombrix.log" 2>&1
    echo $? >"$work/exit-code"
) &
pids+=($!)

wait_for 'xdotool search --onlyvisible --name "^OMBRIX\$" >/dev/null 2>&1' 60 ||
    fail "no window titled OMBRIX appeared"
# Without a window manager the focus follows the pointer; with the pointer over the root
# window no window of ombrix has the focus, so only the global grab of Escape can end it.
xdotool mousemove 0 0
sleep 0.2
xdotool key Escape
wait_for '[ -s "$work/exit-code" ]' 30 || fail "ombrix still runs after Escape"
code=$(cat "$work/exit-code")
[ "$code" = 0 ] || fail "ombrix ended with exit code $code"
[ -f "$work/root/user/dsf/ombrix/DEMO/recent.dsw" ] || fail "recent.dsw was not written"
echo "ombrix showed its window and ended on Escape with exit code 0"
