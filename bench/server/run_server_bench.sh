#!/usr/bin/env bash
# The server on the test camera at 720x576, 25 fps, recording continuously to AVI, beside a
# bare pipeline doing the same work: the same capture, tee, stamp, encoder with the server's
# settings (read from the encoder the server would build) and mux, the grabber branch into an
# appsink whose every sample is pulled and mapped as the server does, and a branch converting
# every frame to 32 bits where the server draws its preview.
#
# Cases:
#   record  recording only (no detection, so no snapshots)
#   detect  recording with motion detection and snapshots (the moving ball triggers them)
#   four    four cameras switched on the card's inputs, same size and mode; the bare side is
#           the same single switched stream
#
# BARE_PREVIEW=none leaves the bare side's preview branch out, for the server's whole overhead
# including its preview. SERVER_WINDOW=minimised runs the server on a display of its own (Xvfb)
# and takes its window off the screen after start-up, as a window manager does when it
# minimises one: the server then draws no preview, and with BARE_PREVIEW=none neither side
# does.
#
# Each run is measured in its steady state: CPU time from /proc/PID/stat over a window after a
# warm-up (start-up, probing and Qt not counted), and the peak resident memory (VmHWM) at its
# end. The two sides take turns, round by round, in alternating order; the ratio is given per
# round and as the median of the rounds.
#
#   bench/server/run_server_bench.sh [rounds [warm-up seconds [window seconds [cases...]]]]
#   (defaults 5, 12, 15, all three cases; run after a build)
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$(pwd)
rounds=${1:-5}
warmup=${2:-12}
window=${3:-15}
shift $(($# < 3 ? $# : 3))
cases=("${@:-record detect four}")
read -r -a cases <<<"${cases[*]}"
build=$root/build
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export QT_QPA_PLATFORM=offscreen GST_PLUGIN_PATH=$build/plugins
tick=$(getconf CLK_TCK)
preview=${BARE_PREVIEW:-convert}
server_window=${SERVER_WINDOW:-shown}
if [[ $server_window == minimised ]]; then
    for tool in Xvfb xdotool; do
        command -v "$tool" >/dev/null || { echo "SERVER_WINDOW=minimised needs $tool" >&2; exit 1; }
    done
    display=:$((200 + $$ % 300))
    Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
    xvfb=$!
    trap 'kill "$xvfb" 2>/dev/null; rm -rf "$work"' EXIT
    for _ in $(seq 50); do
        DISPLAY=$display xdotool getdisplaygeometry >/dev/null 2>&1 && break
        sleep 0.1
    done
elif [[ $server_window != shown ]]; then
    echo "SERVER_WINDOW is shown or minimised" >&2
    exit 1
fi

# cpu_ticks PID: user + system ticks of the whole process (all its threads).
cpu_ticks() {
    # Fields after the command name (which may hold blanks): utime is the 12th, stime the 13th.
    local stat
    stat=$(<"/proc/$1/stat")
    stat=${stat##*) }
    read -r -a f <<<"$stat"
    echo $((f[11] + f[12]))
}

# hide PID: takes the process's windows off the screen once they are shown.
hide() {
    local ids=
    for _ in $(seq 100); do
        ids=$(DISPLAY=$display xdotool search --onlyvisible --pid "$1" 2>/dev/null) && break
        sleep 0.1
    done
    [[ -n $ids ]] || { echo "the server showed no window" >&2; return 1; }
    for id in $ids; do
        DISPLAY=$display xdotool windowunmap "$id"
    done
}

# run LABEL DIR COMMAND...: prints "cpu_seconds peak_kb" of the window after the warm-up.
run() {
    local label=$1 dir=$2
    shift 2
    if [[ $label == server && $server_window == minimised ]]; then
        (cd "$dir" && DISPLAY=$display QT_QPA_PLATFORM=xcb exec "$@" >"$work/$label.out" 2>&1) &
    else
        (cd "$dir" && exec "$@" >"$work/$label.out" 2>&1) &
    fi
    local pid=$!
    if [[ $label == server && $server_window == minimised ]]; then
        hide "$pid" || exit 1
    fi
    sleep "$warmup"
    if ! kill -0 "$pid" 2>/dev/null; then
        echo "$label ended during the warm-up:" >&2
        tail -n 20 "$work/$label.out" >&2
        exit 1
    fi
    local t0 t1 peak
    t0=$(cpu_ticks "$pid")
    sleep "$window"
    t1=$(cpu_ticks "$pid")
    peak=$(awk '/^VmHWM:/ { print $2 }' "/proc/$pid/status")
    kill -INT "$pid" 2>/dev/null || true
    for _ in $(seq 50); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.2
    done
    kill -KILL "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    echo "$(echo "scale=3; ($t1 - $t0) / $tick" | bc) $peak"
}

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

bare_pipeline() { # FILE ENCODER-SETTINGS
    echo "videotestsrc is-live=true pattern=ball" \
        "! video/x-raw,format=BGR,width=720,height=576,framerate=25/1 ! tee name=t" \
        "t. ! queue max-size-buffers=0 max-size-bytes=0 max-size-time=2000000000" \
        "! vorlundavi gate=true stamp=true ! videoconvert ! avenc_msmpeg4 $2 ! avimux" \
        "! filesink location=$1 sync=false async=false buffer-mode=unbuffered" \
        "t. ! queue leaky=downstream max-size-buffers=2 max-size-bytes=0 max-size-time=0" \
        "! appsink name=grab caps=video/x-raw,format=BGR sync=false max-buffers=1 drop=true"
    if [[ $preview == convert ]]; then
        echo "t. ! queue leaky=downstream max-size-buffers=2 max-size-bytes=0 max-size-time=0" \
            "! videoconvert ! video/x-raw,format=BGRx ! fakesink sync=false"
    fi
}

echo "rounds: $rounds, warm-up ${warmup}s, window ${window}s; machine load: $(cut -d' ' -f1-3 /proc/loadavg)"
if [[ $server_window == minimised ]]; then
    echo -n "preview: the server's window is minimised (SERVER_WINDOW=minimised: on Xvfb, taken off"
    echo -n " the screen), so it draws nothing;"
else
    echo -n "preview: the server's window is shown (offscreen platform, exposed) and its tiles drawn"
    echo -n " for every fresh frame;"
fi
if [[ $preview == convert ]]; then
    echo " the bare side converts every frame to 32 bits in a branch of its own."
else
    echo " the bare side draws nothing (BARE_PREVIEW=none)."
fi
summary=()
for case in "${cases[@]}"; do
    folder=$work/$case
    "$build/bench/server/server_bench_config" "$folder" "$case"
    encoder=$("$build/bench/server/server_bench_config" --encoder "$folder" "$case")
    mkdir -p "$work/bare-$case"
    echo
    echo "== $case (encoder:$encoder)"
    cpu_ratios=() mem_ratios=()
    for round in $(seq "$rounds"); do
        bare_file=$work/bare-$case/bare$round.avi
        if ((round % 2)); then
            server=$(run server "$folder" "$build/Vorlund/Vorlund")
            bare=$(run bare "$work" "$build/bench/server/server_bench_bare" "$(bare_pipeline "$bare_file" "$encoder")")
        else
            bare=$(run bare "$work" "$build/bench/server/server_bench_bare" "$(bare_pipeline "$bare_file" "$encoder")")
            server=$(run server "$folder" "$build/Vorlund/Vorlund")
        fi
        read -r scpu speak <<<"$server"
        read -r bcpu bpeak <<<"$bare"
        cpu_ratios+=("$(echo "scale=3; $scpu / $bcpu" | bc)")
        mem_ratios+=("$(echo "scale=3; $speak / $bpeak" | bc)")
        echo "round $round: server cpu ${scpu}s peak ${speak} KiB | bare cpu ${bcpu}s peak ${bpeak} KiB | cpu ratio ${cpu_ratios[-1]} memory ratio ${mem_ratios[-1]}"
    done
    cpu=$(printf '%s\n' "${cpu_ratios[@]}" | median)
    mem=$(printf '%s\n' "${mem_ratios[@]}" | median)
    recordings=$(find "$folder/CaptureData" -maxdepth 1 -type f | wc -l)
    snapshots=$(find "$folder/CaptureData" -mindepth 2 -name '*.jpg' | wc -l)
    echo "median cpu ratio $cpu, median memory ratio $mem; server wrote $recordings recordings, $snapshots snapshots"
    summary+=("$(printf '%-7s cpu %s  memory %s' "$case" "$cpu" "$mem")")
done
echo
echo "medians of $rounds interleaved rounds, server window $server_window, bare preview $preview (goals: record <= 1.10, detect <= 1.15, four <= 1.15; memory has none):"
printf '  %s\n' "${summary[@]}"
