#!/usr/bin/env bash
# Installs what is missing, builds, and starts the editor on the given files.
set -euo pipefail
cd "$(dirname "$0")"

scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build >/dev/null
if [ -x build/tarnlyx ]; then
    exec build/tarnlyx "$@"
fi
exec build/tarnlyx-cli --help
