#!/usr/bin/env bash
# Remote serving on the real server (the test camera at 720x576, recording continuously to AVI):
#   cpu   the server's CPU time over a measured stretch after a warm-up (from /proc/PID/stat),
#         alone and with one viewer asking for 640x480 frames as fast as the replies come
#   relay how soon after the server's start a viewer gets a hello over the relay (Automatic
#         mode; the relay service on the viewer's port 443 and a free lookup port)
#
#   bench/link/run_serving.sh cpu [warm-up seconds] [measured seconds]   (default 10 and 20)
#   bench/link/run_serving.sh relay
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$(pwd)
build=$root/build
what=${1:-cpu}
warm=${2:-10}
measured=${3:-20}
work=$(mktemp -d)
server_pid=
other_pids=()
cleanup() {
    [ -n "$server_pid" ] && kill -9 "$server_pid" 2>/dev/null || true
    for p in "${other_pids[@]}"; do kill "$p" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT
export QT_QPA_PLATFORM=offscreen GST_PLUGIN_PATH=$build/plugins

start_server() { # folder
    (cd "$1" && exec "$build/Vorlund/Vorlund" >/dev/null 2>&1) &
    server_pid=$!
}

stop_server() {
    kill -USR1 "$server_pid" 2>/dev/null || true
    for _ in $(seq 50); do kill -0 "$server_pid" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
    server_pid=
}

cpu_ticks() { # utime + stime of the server
    awk '{ print $14 + $15 }' "/proc/$server_pid/stat"
}

if [ "$what" = cpu ]; then
    port=$((49400 + RANDOM % 500))
    hz=$(getconf CLK_TCK)
    for viewers in 0 1; do
        folder=$work/server$viewers
        "$build/bench/link/link_server_config" "$folder" manual "$port"
        start_server "$folder"
        if [ "$viewers" = 1 ]; then
            "$build/bench/link/link_client" frames "$port" $((warm + measured + 1)) \
                >"$work/client.txt" &
            other_pids+=($!)
        fi
        sleep "$warm"
        before=$(cpu_ticks)
        sleep "$measured"
        after=$(cpu_ticks)
        stop_server
        share=$(echo "scale=3; ($after - $before) / $hz / $measured" | bc)
        echo "viewers $viewers: server cpu $share of a core"
        eval "share$viewers=$share"
        [ "$viewers" = 1 ] && wait && cat "$work/client.txt"
    done
    echo "ratio with one viewer: $(echo "scale=2; $share1 / $share0" | bc)  (goal <= 1.3)"
elif [ "$what" = relay ]; then
    users=$work/users
    echo "me@example.org:relaypw" >"$users"
    "$build/relay/vorlund-relay" --users "$users" --address 127.0.0.1 --lookup-port 0 \
        --relay-port 443 --bind 127.0.0.1 >"$work/relay.txt" 2>&1 &
    other_pids+=($!)
    for _ in $(seq 50); do grep -q "relay port" "$work/relay.txt" && break; sleep 0.1; done
    lookup=$(awk '/lookup port/ { print $3 }' "$work/relay.txt")
    [ -n "$lookup" ] || { cat "$work/relay.txt"; exit 1; }
    folder=$work/relayed
    "$build/bench/link/link_server_config" "$folder" relay "$lookup" me@example.org relaypw ""
    start_server "$folder"
    "$build/bench/link/link_client" hello 443 me@example.org 300
    stop_server
fi
