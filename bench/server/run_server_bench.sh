#!/usr/bin/env bash
# The server on the test camera at 720x576, 25 fps, recording continuously to AVI for a while,
# beside a bare gst-launch-1.0 pipeline doing the same capture, tee, encode and mux plus the BGR
# branch into a fakesink (an appsink holds the end of stream): CPU time and peak memory of each, and their ratios.
#
#   bench/server/run_server_bench.sh [seconds]      (default 60; run after a build)
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$(pwd)
seconds=${1:-60}
build=$root/build
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$build/bench/server/server_bench_config" "$work/server"
export QT_QPA_PLATFORM=offscreen GST_PLUGIN_PATH=$build/plugins

measure() { # label, command...: prints "label cpu_seconds peak_kb"
    local label=$1
    shift
    local stats=$work/$label.time
    /usr/bin/time -f '%U %S %M' -o "$stats" timeout -k 20 -s INT "$seconds" "$@" >/dev/null 2>&1 ||
        true
    # time writes a note first when the command's status is not 0: the figures are last.
    read -r user sys peak < <(tail -n 1 "$stats")
    echo "$label $(echo "$user + $sys" | bc) $peak"
}

server=$(cd "$work/server" && measure server "$build/Vorlund/Vorlund")
bare=$(measure bare gst-launch-1.0 -e videotestsrc is-live=true pattern=ball ! \
    video/x-raw,format=BGR,width=720,height=576,framerate=25/1 ! tee name=t \
    t. ! queue ! vorlundavi gate=true stamp=true ! videoconvert ! avenc_msmpeg4 ! avimux ! \
    filesink location="$work/bare.avi" \
    t. ! queue leaky=downstream ! fakesink sync=false)

read -r _ scpu speak <<<"$server"
read -r _ bcpu bpeak <<<"$bare"
echo "seconds: $seconds"
echo "server: cpu ${scpu}s, peak ${speak} KiB; recordings: $(ls "$work/server/CaptureData" | tr '\n' ' ')"
echo "bare:   cpu ${bcpu}s, peak ${bpeak} KiB"
echo "cpu ratio: $(echo "scale=2; $scpu / $bcpu" | bc)  (goal <= 1.15)"
echo "memory ratio: $(echo "scale=2; $speak / $bpeak" | bc)"
