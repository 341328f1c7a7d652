#!/usr/bin/env bash
# Drives the real editor in a real X server with keystrokes only.
# Usage (under xvfb-run): e2e_keyboard.sh TARNLYX TARNLYX-CLI SAMPLE.sub
set -euo pipefail
editor=$1 cli=$2 sample=$3
work=$(mktemp -d)
pid=""
trap '[ -n "$pid" ] && kill "$pid" 2>/dev/null; [ -z "${KEEP:-}" ] && rm -rf "$work"' EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }

# The editor's windows that are on screen (the dialogs have no title).
visible() { xdotool search --onlyvisible --class tarnlyx 2>/dev/null | wc -l; }

wait_windows() {
    for _ in $(seq 100); do
        [ "$(visible)" -eq "$1" ] && { sleep 0.2; return 0; }
        sleep 0.1
    done
    fail "expected $1 windows on screen, saw $(visible) ($2)"
}

wait_exit() {
    for _ in $(seq 100); do
        kill -0 "$pid" 2>/dev/null || { wait "$pid" || fail "the editor exited with $?"; pid=""; return 0; }
        sleep 0.1
    done
    fail "the editor did not end ($1)"
}

key() { xdotool key --delay 50 "$@"; }

start() {
    "$editor" "$1" &
    pid=$!
    wait_windows 1 "the frame-rate prompt"
    key Return
    for _ in $(seq 100); do
        xdotool search --onlyvisible --name "just Tarnlyx" >/dev/null 2>&1 && break
        sleep 0.1
    done
    wait_windows 1 "the main window"
}

saved_form() { sed 's/\r$//' "$1" | head -c -1; }

# 1. Convert to tenths (Ctrl+T, Alt+M), shift by 2 seconds (Ctrl+D), save
#    (Ctrl+S), close (Ctrl+F4): the file holds what the batch tool makes of it.
cp "$sample" "$work/movie.sub"
start "$work/movie.sub"
key ctrl+t; wait_windows 2 "the conversion dialog"
key alt+m; sleep 0.4  # a mnemonic clicks its button after a moment
key Return; wait_windows 1 "after the conversion"
key ctrl+d; wait_windows 2 "the shift dialog"
key ctrl+a; xdotool type --delay 50 "2"; key Return; wait_windows 1 "after the shift"
key ctrl+s
sleep 0.5
key ctrl+F4
wait_exit "after Ctrl+F4"
"$cli" convert --to tenths "$sample" | "$cli" shift --seconds 2 > "$work/expected"
cmp "$work/movie.sub" "$work/expected" || fail "the saved file differs from the batch tool's result"

# 2. Type, close, "Cancel" the question (the window stays), close again and
#    "Save now" (the file is written and the program ends).
cp "$sample" "$work/typed.sub"
start "$work/typed.sub"
xdotool type --delay 50 "x"
key ctrl+F4; wait_windows 2 "the unsaved-changes question"
key Escape; wait_windows 1 "after Cancel"
kill -0 "$pid" 2>/dev/null || fail "Cancel ended the program"
cmp -s "$work/typed.sub" "$sample" || fail "Cancel wrote the file"
key ctrl+F4; wait_windows 2 "the question again"
key Return
wait_exit "after Save now"
{ printf 'x'; saved_form "$sample"; } > "$work/expected2"
cmp "$work/typed.sub" "$work/expected2" || fail "Save now did not write the typed text"

echo "2 passed, 0 failed"
