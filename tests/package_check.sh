#!/usr/bin/env bash
# Builds the Debian package and checks what it holds and needs.
# Usage: package_check.sh BUILD_DIR
set -euo pipefail
build=$1
fail() { echo "FAIL: $*" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

(cd "$build" && cpack -G DEB -B "$work" >/dev/null) || fail "cpack"
deb=$(ls "$work"/tarnlyx_*.deb)
[ "$(dpkg-deb -f "$deb" Package)" = tarnlyx ] || fail "package name"
[ "$(dpkg-deb -f "$deb" Version)" = 0.1 ] || fail "version"
depends=$(dpkg-deb -f "$deb" Depends)
for needed in libc6 libqt6core6 libqt6gui6 libqt6widgets6 qt6-qpa-plugins; do
    grep -q "\b$needed\b" <<<"$depends" || fail "Depends lacks $needed: $depends"
done
contents=$(dpkg-deb -c "$deb" | awk '{print $6}')
for file in ./usr/bin/tarnlyx ./usr/bin/tarnlyx-cli ./usr/share/applications/org.tarnlyx.Tarnlyx.desktop \
            ./usr/share/metainfo/org.tarnlyx.Tarnlyx.metainfo.xml ./usr/share/man/man1/tarnlyx.1 \
            ./usr/share/bash-completion/completions/tarnlyx-cli \
            ./usr/share/icons/hicolor/256x256/apps/org.tarnlyx.Tarnlyx.png; do
    grep -qx -- "$file" <<<"$contents" || fail "the package lacks $file"
done
dpkg-deb -x "$deb" "$work/root"
[ "$("$work/root/usr/bin/tarnlyx-cli" --version)" = "tarnlyx-cli 0.1" ] || fail "the packaged tarnlyx-cli"
echo "4 passed, 0 failed"
