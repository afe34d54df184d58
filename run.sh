#!/usr/bin/env bash
# Builds the suite and starts the server on the built-in test camera.
#
#   ./run.sh [--viewer] [working-folder] [server options, e.g. -d2]
#
# The working folder (run/ unless given) is where the server keeps its profile Vorlund.INI,
# the device settings, the error log vorlund.log and, under CaptureData/, its recordings and
# pictures. Without a display the server runs on Qt's offscreen platform.
# --viewer also starts the remote viewer, with its own settings under build/run (Manual mode,
# this machine, the server's default port), so the user's own viewer settings are untouched.
set -euo pipefail
cd "$(dirname "$0")"
root=$(pwd)

with_viewer=0
if [ "${1:-}" = "--viewer" ]; then
    with_viewer=1
    shift
fi
work=run
if [ $# -gt 0 ] && [[ $1 != -* ]]; then
    work=$1
    shift
fi

scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)"
server=$root/build/Vorlund/Vorlund
viewer=$root/build/Vorlund-Remote/app/Vorlund-Remote
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
if [ "$with_viewer" = 1 ] && [ ! -x "$viewer" ]; then
    echo "run.sh: the viewer is not built; starting the server alone." >&2
    with_viewer=0
fi
if [ "$with_viewer" = 1 ]; then
    config="$root/build/run/viewer-config"
    file="$config/Vorlund/Vorlund-Remote.conf"
    if [ ! -f "$file" ]; then
        mkdir -p "$(dirname "$file")"
        printf '[General]\nMode=1\nHost%%20IP=127.0.0.1\nHost%%20Port=49330\n' >"$file"
    fi
    XDG_CONFIG_HOME="$config" "$viewer" &
fi
cd "$work"
exec "$server" "$@"
