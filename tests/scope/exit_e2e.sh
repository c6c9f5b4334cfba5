#!/usr/bin/env bash
# End to end: the built ombrix against mcsim on a pseudo-terminal, under a real X server, ended
# in every ordinary way but a click. Escape, pressed while none of its windows has the focus,
# ends it with exit code 0 after the exit save wrote recent.dsw; SIGTERM, SIGINT and SIGHUP end
# it the same way, with the same text in recent.dsw. When the X server goes away (Qt then ends
# the process on the spot), recent.dsw already holds the name typed into a box a moment before.
# Escape ends it the same way while the MC is silent (mcsim stopped) and after the device went
# away (mcsim ended): the acquisition waits on its own thread, and its waits end at once.
# Arguments: ombrix, mcsim, the demo folder. Exit code 77 (skipped) without Xvfb or xdotool.
set -u
OMBRIX=$1
MCSIM=$2
DEMO=$3

source "$(dirname "$0")/../support/x11_e2e.sh"

start_xvfb
xvfb=${pids[0]}
start_mcsim "$MCSIM" "$DEMO/demo.scenario"
export LSAN_OPTIONS="${LSAN_OPTIONS:+$LSAN_OPTIONS:}suppressions=$(dirname "$0")/../support/lsan-system.supp"

# GONE is not defined by the demo: the start-up removes it, and only a save takes it out of
# the file.
seeded='[TComboBox0]\nText=SINE\n[TComboBox3\\Items]\nLine0=GONE\n'

# run_ombrix NAME: an installation of its own in $work/NAME, started in the background ($pid);
# returns once its window is up.
run_ombrix() {
    root=$work/$1
    recent=$root/user/dsf/ombrix/DEMO/recent.dsw
    mkdir -p "$root/bin" "$(dirname "$recent")"
    cp "$OMBRIX" "$root/bin/ombrix"
    printf '[COM]\n%s\n[FILE_PATH]\n%s\n' "$work/mc" "$DEMO" >"$root/bin/ombrix.ini"
    printf "$seeded" >"$recent"
    # A script's background jobs ignore SIGINT, and ombrix leaves alone what it was told to
    # ignore; started from a desktop it has the default.
    QT_QPA_PLATFORM=xcb env --default-signal=INT "$root/bin/ombrix" >"$work/$1.log" 2>&1 &
    pid=$!
    pids+=("$pid")
    wait_for 'xdotool search --onlyvisible --name "^OMBRIX\$" >/dev/null 2>&1' 60 ||
        fail "$1: no window titled OMBRIX appeared"
}

# ended NAME: waits for the end of $pid; its exit code in $code.
ended() {
    wait_for '! kill -0 "$pid" 2>/dev/null' 30 || fail "$1: ombrix still runs"
    wait "$pid"
    code=$?
}

for way in Escape TERM INT HUP; do
    run_ombrix "$way"
    if [ "$way" = Escape ]; then
        # Without a window manager the focus follows the pointer; with the pointer over the
        # root window no window of ombrix has the focus, so only the global grab can take it.
        xdotool mousemove 0 0
        sleep 0.2
        xdotool key Escape
    else
        kill -s "$way" "$pid"
    fi
    ended "$way"
    [ "$code" = 0 ] || fail "$way: ombrix ended with exit code $code"
    grep -q '^Text=SINE$' "$recent" || fail "$way: recent.dsw lost channel 1"
    ! grep -q GONE "$recent" || fail "$way: recent.dsw was not written at the end"
    cmp -s "$recent" "$work/Escape/user/dsf/ombrix/DEMO/recent.dsw" ||
        fail "$way: recent.dsw differs from the one Escape leaves"
done
echo "Escape, SIGTERM, SIGINT and SIGHUP end ombrix with exit code 0, recent.dsw written alike"

# escape_while NAME: Escape from outside the window a second after the link gave out, and the
# end as above.
escape_while() {
    sleep 1
    xdotool mousemove 0 0
    sleep 0.2
    local pressed=$(date +%s%N)
    xdotool key Escape
    ended "$1"
    echo "$1: ended $((($(date +%s%N) - pressed) / 1000000)) ms after Escape"
    [ "$code" = 0 ] || fail "$1: ombrix ended with exit code $code"
    cmp -s "$recent" "$work/Escape/user/dsf/ombrix/DEMO/recent.dsw" ||
        fail "$1: recent.dsw differs from the one Escape leaves"
}
mcsim=${pids[1]}
run_ombrix silent
kill -STOP "$mcsim"
escape_while silent
kill -CONT "$mcsim"
run_ombrix gone
kill "$mcsim"
wait_for '[ ! -L "$work/mc" ]' 20 || fail "mcsim did not end"
escape_while gone
start_mcsim "$MCSIM" "$DEMO/demo.scenario"

run_ombrix lost
window=$(xdotool search --onlyvisible --name "^OMBRIX\$" | head -n 1)
# Into VarName2 (panel 2 at 282, 2; its box 4, 10 inside).
xdotool mousemove --window "$window" 320 22 click 1
xdotool type --delay 50 SAW
wait_for 'grep -q "^Text=SAW$" "$recent"' 20 || fail "lost: the typed name never reached recent.dsw"
kill "$xvfb"
ended lost
# Qt ends the process with exit code 1; a signal's code would be a crash on the way out.
[ "$code" -lt 128 ] || fail "lost: ombrix crashed on its way out (exit code $code)"
grep -q '^Text=SAW$' "$recent" || fail "lost: recent.dsw lost the typed name"
grep -A1 '^\[TCheckBox2\]$' "$recent" | grep -q '^Checked=True$' ||
    fail "lost: recent.dsw lost channel 2's check box"
echo "after the display went away (exit code $code), recent.dsw holds the name typed last"
