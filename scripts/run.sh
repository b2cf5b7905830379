#!/usr/bin/env bash
# Sets up the machine, builds the program and starts it (on the simulated box when no
# parallel port is there). Without a display, it starts under Xvfb.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build >/dev/null
cmake --build build -j"$(nproc)"
if [ -x build/app/orvopro ]; then
    if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
        exec xvfb-run -a build/app/orvopro "$@"
    fi
    exec build/app/orvopro "$@"
fi
# Until the main window exists: make a default measurement file and show what it holds.
out="${TMPDIR:-/tmp}/orvo-default.mes"
build/tool/orvo-tool new "$out"
exec build/tool/orvo-tool info "$out"
