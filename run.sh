#!/usr/bin/env bash
# Builds the suite and starts the server on the built-in test camera.
#
#   ./run.sh [working-folder] [server options, e.g. -d2]
#
# The working folder (run/ unless given) is where the server keeps its profile Vorlund.INI,
# the device settings, the error log vorlund.log and, under CaptureData/, its recordings and
# pictures. Without a display the server runs on Qt's offscreen platform.
set -euo pipefail
cd "$(dirname "$0")"
root=$(pwd)

work=run
if [ $# -gt 0 ] && [[ $1 != -* ]]; then
    work=$1
    shift
fi

scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)"
server=$root/build/Vorlund/Vorlund
if [ ! -x "$server" ]; then
    echo "run.sh: $server was not built." >&2
    exit 1
fi

mkdir -p "$work"
work=$(cd "$work" && pwd)
if [ "$work" = / ]; then
    echo "run.sh: the root folder cannot be the working folder." >&2
    exit 1
fi
# A fresh working folder starts capturing by itself on the built-in test camera.
if [ ! -e "$work/Vorlund.INI" ]; then
    printf '[Settings]\nAutoStartDetect=1\n[Video]\nLast Device Desc=Vorlund Test Camera\n' \
        >"$work/Vorlund.INI"
fi

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    export QT_QPA_PLATFORM=offscreen
    echo "run.sh: no display; the server runs without a window (stop it with Ctrl+C)."
fi
cat <<INFO
Vorlund is starting in $work
  recordings:  $work/CaptureData
  snapshots:   $work/CaptureData/cam1 ... cam4
  time lapse:  $work/CaptureData/TimeLapse
  error log:   $work/vorlund.log
  (the recording folder can be changed in Command > Configuration)
INFO
cd "$work"
exec "$server" "$@"
