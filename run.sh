#!/usr/bin/env bash
# Builds the suite and starts the server on the built-in test camera.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)"
server=build/Vorlund/Vorlund
if [ ! -x "$server" ]; then
    echo "run.sh: the server program is not built yet (it arrives with the server shell)." >&2
    exit 1
fi
exec "$server" "$@"
