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

# Starts the editor on a file and answers its questions (the frame-rate
# prompt, and first the recovery question if $2 says so) with Return.
start() {
    "$editor" "$1" &
    pid=$!
    for i in $(seq "${2:-1}"); do
        wait_windows 1 "a question at start"
        question=$(xdotool search --onlyvisible --class tarnlyx | head -n 1)
        key Return
        while [ "$i" -lt "${2:-1}" ] && xdotool search --onlyvisible --class tarnlyx | grep -qx "$question"; do
            sleep 0.1
        done
    done
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

# 3. Type, kill -9, start again: Return restores the text, shown as
#    edited; Ctrl+S saves it and nothing is left for recovery.
export XDG_STATE_HOME=$work/state
cp "$sample" "$work/crash.sub"
start "$work/crash.sub"
xdotool type --delay 50 "lost"
for _ in $(seq 100); do
    ls "$XDG_STATE_HOME"/tarnlyx/recovery/*.txt >/dev/null 2>&1 && break
    sleep 0.1
done
kill -9 "$pid"; wait "$pid" 2>/dev/null || true; pid=""
start "$work/crash.sub" 2
key ctrl+s; sleep 0.5
{ printf 'lost'; saved_form "$sample"; } > "$work/expected3"
cmp "$work/crash.sub" "$work/expected3" || fail "the restored text was not saved"
[ -z "$(ls -A "$XDG_STATE_HOME/tarnlyx/recovery")" ] || fail "recovery files left after the save"
key ctrl+F4
wait_exit "after saving the restored text"

# 4. Another program changes the file: Ctrl+S asks; Escape keeps its
#    version, Alt+O overwrites it.
cp "$sample" "$work/changed.sub"
start "$work/changed.sub"
xdotool type --delay 50 "x"
printf 'theirs\n' >> "$work/changed.sub"
cp "$work/changed.sub" "$work/theirs"
key ctrl+s; wait_windows 2 "the changed-on-disk question"
key Escape; wait_windows 1 "after Cancel"
cmp "$work/changed.sub" "$work/theirs" || fail "Cancel wrote the file"
key ctrl+s; wait_windows 2 "the question again"
key alt+o; wait_windows 1 "after Overwrite"
cmp "$work/changed.sub" "$work/expected2" || fail "Overwrite did not write the text"
key ctrl+F4
wait_exit "after Overwrite"

echo "4 passed, 0 failed"
