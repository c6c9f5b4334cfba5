# Shared by the tarnel end-to-end scripts after tests/support/x11_e2e.sh: installs the built
# tarnel in $work/root/bin beside a parameter file that points COM at mcsim's link, and
# starts it with a follow-up command; its exit code lands in $work/exit-code.

# install_tarnel TARNEL DEMO
install_tarnel() {
    mkdir -p "$work/root/bin"
    cp "$1" "$work/root/bin/tarnel"
    printf '[COM]\n%s\n[FILE_PATH]\n%s\n' "$work/mc" "$2" >"$work/root/bin/tarnel.ini"
    export LSAN_OPTIONS="${LSAN_OPTIONS:+$LSAN_OPTIONS:}suppressions=$(dirname "${BASH_SOURCE[0]}")/../support/lsan-system.supp"
}

# start_tarnel FOLLOW-UP
start_tarnel() {
    (
        QT_QPA_PLATFORM=xcb "$work/root/bin/tarnel" "$1" >"$work/tarnel.log" 2>&1
        echo $? >"$work/exit-code"
    ) &
    pids+=($!)
}
