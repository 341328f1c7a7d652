#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test through CTest.
set -euo pipefail
cd "$(dirname "$0")"

scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DTARNLYX_WERROR="${TARNLYX_WERROR:-OFF}" >/dev/null
cmake --build build
ctest --test-dir build --output-on-failure "$@"
