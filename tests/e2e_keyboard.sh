#!/usr/bin/env bash
# Drives the real editor in a real X server with keystrokes only.
# Usage (under xvfb-run): e2e_keyboard.sh TARNLYX TARNLYX-CLI SAMPLE.sub
set -euo pipefail
editor=$1 cli=$2 sample=$3
work=$(mktemp -d)
# Recovery files and backups of this run stay in it.
export XDG_STATE_HOME=$work/state
pid=""
trap '[ -n "$pid" ] && kill "$pid" 2>/dev/null; [ -z "${KEEP:-}" ] && rm -rf "$work"' EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }

# Runs a check every 0.1 s until it holds, for up to 30 s.
within() { for _ in $(seq 300); do "$@" && return 0; sleep 0.1; done; return 1; }

# The editor's windows that are on screen (the dialogs have no title).
visible() { xdotool search --onlyvisible --class tarnlyx 2>/dev/null | wc -l; }
shown() { [ "$(visible)" -eq "$1" ]; }
# A question takes no key for half a second after it shows (keys typed
# ahead must not answer it), so the keys wait a little longer than that.
wait_windows() { within shown "$1" || fail "expected $1 windows on screen, saw $(visible) ($2)"; sleep 0.7; }
ended() { ! kill -0 "$pid" 2>/dev/null; }
wait_exit() { within ended || fail "the editor did not end ($1)"; wait "$pid" || fail "the editor exited with $?"; pid=""; }
# Waits until file $1 holds the bytes of file $2.
wait_content() { within cmp -s "$1" "$2" || fail "$3"; }
key() { xdotool key --delay 50 "$@"; }
gone() { ! xdotool search --onlyvisible --class tarnlyx | grep -qx "$1"; }

# Starts the editor on a file and answers its questions (the frame-rate
# prompt, and first the recovery question if $2 says so) with Return.
start() {
    # A connection to the X server now and then fails at once; try again.
    for _ in 1 2 3; do
        "$editor" "$1" &
        pid=$!
        sleep 0.5
        ended || break
        echo "the editor could not start; again" >&2
    done
    for i in $(seq "${2:-1}"); do
        wait_windows 1 "a question at start"
        question=$(xdotool search --onlyvisible --class tarnlyx | head -n 1)
        key Return
        [ "$i" -eq "${2:-1}" ] || within gone "$question" || fail "question $i stayed"
    done
    within xdotool search --onlyvisible --name "just Tarnlyx" >/dev/null 2>&1 || fail "no main window"
    wait_windows 1 "the main window"
}


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
{ printf 'x'; cat "$sample"; } > "$work/expected2"
cmp "$work/typed.sub" "$work/expected2" || fail "Save now did not write the typed text"

# 3. Type, kill -9, start again: Return restores the text, shown as
#    edited; Ctrl+S saves it and nothing is left for recovery.
cp "$sample" "$work/crash.sub"
start "$work/crash.sub"
xdotool type --delay 50 "lost"
kept() { ls "$XDG_STATE_HOME"/tarnlyx/recovery/*.txt >/dev/null 2>&1; }
within kept || fail "no recovery file"
kill -9 "$pid"; wait "$pid" 2>/dev/null || true; pid=""
start "$work/crash.sub" 2
key ctrl+s
{ printf 'lost'; cat "$sample"; } > "$work/expected3"
wait_content "$work/crash.sub" "$work/expected3" "the restored text was not saved"
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

# 5. The keyboard goes where the user looks: to the window Ctrl+N opens,
#    and after Ctrl+F4 to the window that had it before.
cp "$sample" "$work/focus.sub"
start "$work/focus.sub"
key ctrl+n; wait_windows 2 "the new window"
key ctrl+F4; wait_windows 1 "the empty new window closed without a question"
xdotool type --delay 50 "k"; key ctrl+s
{ printf 'k'; cat "$sample"; } > "$work/expected5"
wait_content "$work/focus.sub" "$work/expected5" "after Ctrl+F4 the keys did not go to the window left"
key ctrl+n; wait_windows 2 "the new window again"
xdotool type --delay 50 "n"
key ctrl+F4; wait_windows 3 "the new window asks: the keys went to it"
key Escape; wait_windows 2 "after Cancel"
cmp -s "$work/focus.sub" "$work/expected5" || fail "the keys for the new window went to the old one"
kill "$pid"; wait "$pid" 2>/dev/null || true; pid=""
rm -rf "$XDG_STATE_HOME/tarnlyx/recovery" # what the killed window may have kept

# 6. A letter windows-1250 lacks: Ctrl+S asks, Alt+U saves the file as UTF-8.
cp "$(dirname "$sample")/encodings/polish.windows-1250.sub" "$work/polish.sub"
start "$work/polish.sub"
xdotool type --delay 50 "Ж"
key ctrl+s; wait_windows 2 "the question about the encoding"
key alt+u; wait_windows 1 "after Save as UTF-8"
{ printf 'Ж'; iconv -f WINDOWS-1250 -t UTF-8 "$(dirname "$sample")/encodings/polish.windows-1250.sub"; } > "$work/expected6"
wait_content "$work/polish.sub" "$work/expected6" "the text was not saved as UTF-8"
key ctrl+F4
wait_exit "after saving as UTF-8"

# 7. Everyday editing: Ctrl+F a word, Ctrl+H replace it everywhere (Tab to
#    the replace field, Alt+A), Ctrl+G a time, type there, Ctrl+S.
cp "$sample" "$work/edit.sub"
start "$work/edit.sub"
key ctrl+f
xdotool type --delay 50 "night"
key Return
key ctrl+h Tab
xdotool type --delay 50 "day"
key alt+a; sleep 0.4  # a mnemonic clicks its button after a moment
key Escape
key ctrl+g; wait_windows 2 "the Go to dialog"
xdotool type --delay 50 "0:00:10"
key Return; wait_windows 1 "after Go to"
xdotool type --delay 50 "X"
key ctrl+s
sed 's/night/day/g; 5s/^/X/' "$sample" > "$work/expected7"
wait_content "$work/edit.sub" "$work/expected7" "the edited text was not saved as expected"
key ctrl+F4
wait_exit "after the everyday editing"

echo "7 passed, 0 failed"
