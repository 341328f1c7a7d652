#!/usr/bin/env bash
# Installs into a temporary prefix and checks every installed file.
# Usage: install_check.sh BUILD_DIR
set -euo pipefail
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$prefix" >/dev/null
id=org.tarnlyx.Tarnlyx
sizes="16 22 24 32 48 64 128 256"
expected="bin/tarnlyx
bin/tarnlyx-cli
share/applications/$id.desktop
share/bash-completion/completions/tarnlyx-cli
share/man/man1/tarnlyx-cli.1
share/man/man1/tarnlyx.1
share/metainfo/$id.metainfo.xml"
for s in $sizes; do expected+=$'\n'"share/icons/hicolor/${s}x${s}/apps/$id.png"; done
diff <(sort <<<"$expected") <(cd "$prefix" && find . -type f | sed 's|^\./||' | sort) \
    || fail "the installed files differ from the list"

# The programs run from where they were installed.
[ "$("$prefix/bin/tarnlyx" --version)" = "tarnlyx 0.1" ] || fail "tarnlyx --version"
[ "$("$prefix/bin/tarnlyx-cli" --version)" = "tarnlyx-cli 0.1" ] || fail "tarnlyx-cli --version"
[ "$(printf '{25}{50}x' | "$prefix/bin/tarnlyx-cli" convert --to tenths)" = "[10][20]x" ] \
    || fail "tarnlyx-cli does not convert"

# The desktop entry and the AppStream data pass the standard checks, and
# name what was installed.
desktop=$prefix/share/applications/$id.desktop
desktop-file-validate "$desktop" || fail "desktop-file-validate"
grep -qx 'Exec=tarnlyx %F' "$desktop" || fail "Exec"
grep -qx "Icon=$id" "$desktop" || fail "Icon"
grep -qx 'MimeType=text/x-microdvd;text/x-mpl2;text/plain;' "$desktop" || fail "MimeType"
appstreamcli validate --no-net "$prefix/share/metainfo/$id.metainfo.xml" >/dev/null \
    || fail "appstreamcli validate"
grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" \
    "$prefix/share/metainfo/$id.metainfo.xml" || fail "launchable"

# Each icon is a PNG of its size.
for s in $sizes; do
    png=$prefix/share/icons/hicolor/${s}x${s}/apps/$id.png
    [ "$(head -c 8 "$png" | od -An -tx1 | tr -d ' \n')" = "89504e470d0a1a0a" ] || fail "$png is no PNG"
    read -r w h < <(od -An -tu4 --endian=big -j16 -N8 "$png")
    [ "$w $h" = "$s $s" ] || fail "$png is ${w}x$h"
done

# The manual pages format without warnings.
for page in tarnlyx tarnlyx-cli; do
    out=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$prefix/share/man/man1/$page.1" 2>&1 >/dev/null)
    [ -z "$out" ] || fail "man $page: $out"
    LC_ALL=C.UTF-8 man -l "$prefix/share/man/man1/$page.1" 2>/dev/null | grep -q "^NAME" \
        || fail "man $page has no NAME"
done

# The completion offers operations, then each operation's own options.
complete_line() {
    bash -c '
        source /usr/share/bash-completion/bash_completion
        source "$0"
        COMP_WORDS=("$@"); COMP_CWORD=$(( $# - 1 ))
        COMP_LINE="$*"; COMP_POINT=${#COMP_LINE}
        _tarnlyx_cli tarnlyx-cli "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD-1]}"
        printf "%s\n" "${COMPREPLY[@]}"
    ' "$prefix/share/bash-completion/completions/tarnlyx-cli" "$@"
}
[ "$(complete_line tarnlyx-cli sh)" = "shift
showtime" ] || fail "completing an operation"
complete_line tarnlyx-cli convert --t | grep -qx -- --to || fail "completing --to"
complete_line tarnlyx-cli shift --no | sort | tr '\n' ' ' | grep -q -- "--no-hide --no-show" \
    || fail "completing shift's switches"
[ "$(complete_line tarnlyx-cli convert --to te)" = "tenths" ] || fail "completing a format"
[ "$(complete_line tarnlyx-cli --encoding Shi)" = "Shift_JIS" ] || fail "completing an encoding"
complete_line tarnlyx-cli in | grep -qx info || fail "completing info"
complete_line tarnlyx-cli check --no-ga | grep -qx -- --no-gap || fail "completing check's switches"

echo "every installed file checked"
