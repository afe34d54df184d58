#!/usr/bin/env bash
# Builds the suite and starts the server on the built-in test camera.
# --viewer also starts the remote viewer, with its own settings under build/run (Manual mode,
# this machine, the server's default port), so the user's own viewer settings are untouched.
set -euo pipefail
cd "$(dirname "$0")"
with_viewer=0
if [ "${1:-}" = "--viewer" ]; then
    with_viewer=1
    shift
fi
scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)"
server=build/Vorlund/Vorlund
viewer=build/Vorlund-Remote/app/Vorlund-Remote

start_viewer() {
    local config="$PWD/build/run/viewer-config"
    local file="$config/Vorlund/Vorlund-Remote.conf"
    if [ ! -f "$file" ]; then
        mkdir -p "$(dirname "$file")"
        printf '[General]\nMode=1\nHost%%20IP=127.0.0.1\nHost%%20Port=49330\n' >"$file"
    fi
    XDG_CONFIG_HOME="$config" "$viewer" &
}

if [ ! -x "$server" ]; then
    echo "run.sh: the server program is not built yet (it arrives with the server shell)." >&2
    if [ "$with_viewer" = 1 ]; then
        start_viewer
        wait
        exit 0
    fi
    exit 1
fi
if [ "$with_viewer" = 1 ]; then
    start_viewer
fi
exec "$server" "$@"
