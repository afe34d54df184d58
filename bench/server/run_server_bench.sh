#!/usr/bin/env bash
# The server on the test camera at 720x576, 25 fps, recording continuously to AVI, beside a
# bare pipeline doing the same work: the same capture, tee, stamp, encoder with the server's
# settings (read from the encoder the server would build) and mux, and the grabber branch into
# an appsink whose every sample is pulled and mapped as the server does.
#
# Cases:
#   record  recording only (no detection, so no snapshots)
#   detect  recording with motion detection and snapshots (the moving ball triggers them)
#   four    four cameras switched on the card's inputs, same size and mode; the bare side is
#           the same single switched stream
#
# Modes (SERVER_WINDOW), both on an X server of the script's own (Xvfb, with xdotool to find
# the server's window; both are needed in either mode):
#   minimised  the default, like for like: neither side draws. The server runs on the xcb
#              platform and its window is taken off the screen after start-up, as a window
#              manager does when it minimises one; the bare side has no display branch.
#   shown      both draw the same 720x576 picture, one per frame, into windows on the same
#              display: the server's tiles, and the bare side through videoconvert ! ximagesink
#              (package gstreamer1.0-x).
# Both sides run pinned to the same CPUs, BENCH_CPUS (a taskset list; default the upper half
# of the machine's).
#
# Each round runs the sides at the same time, so they see the same machine: each one's CPU time
# from /proc/PID/stat over the same wall interval after a warm-up (start-up, probing and Qt not
# counted), and each one's peak resident memory (VmHWM) at its end. Each side takes a tenth of
# a CPU or so, so they hardly compete for the CPUs; the rounds start them in rotating order.
# The ratio is given per round and as the median of the rounds, with their spread.
#
# BEFORE_BUILD=DIR (another build tree, e.g. of the previous commit) runs its server as a third
# side in every round, so a change is measured against its bare pipeline in the same rounds.
#
#   bench/server/run_server_bench.sh [rounds [warm-up seconds [window seconds [cases...]]]]
#   (defaults 7, 10, 30, all three cases; run after a build; BUILD=DIR for another build tree)
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$(pwd)
rounds=${1:-7}
warmup=${2:-10}
window=${3:-30}
shift $(($# < 3 ? $# : 3))
cases=("${@:-record detect four}")
read -r -a cases <<<"${cases[*]}"
build=${BUILD:-$root/build}
before=${BEFORE_BUILD:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export GST_PLUGIN_PATH=$build/plugins
tick=$(getconf CLK_TCK)
mode=${SERVER_WINDOW:-minimised}
if [[ $mode != minimised && $mode != shown ]]; then
    echo "SERVER_WINDOW is minimised or shown" >&2
    exit 1
fi
cpu_count=$(nproc)
cpus=${BENCH_CPUS:-$((cpu_count / 2))-$((cpu_count - 1))}
((cpu_count > 1)) || cpus=${BENCH_CPUS:-0}
for tool in Xvfb xdotool taskset bc; do
    command -v "$tool" >/dev/null || { echo "the server benchmark needs $tool" >&2; exit 1; }
done
if [[ $mode == shown ]] && ! gst-inspect-1.0 ximagesink >/dev/null 2>&1; then
    echo "SERVER_WINDOW=shown needs ximagesink (package gstreamer1.0-x)" >&2
    exit 1
fi
# Room for four 720x576 tiles with the frame's menu, toolbar and status bar.
display=:$((200 + $$ % 300))
Xvfb "$display" -screen 0 1600x1300x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb=$!
trap 'kill "$xvfb" 2>/dev/null; rm -rf "$work"' EXIT
for _ in $(seq 50); do
    DISPLAY=$display xdotool getdisplaygeometry >/dev/null 2>&1 && break
    sleep 0.1
done
export DISPLAY=$display QT_QPA_PLATFORM=xcb

# cpu_ticks PID: user + system ticks of the whole process (all its threads).
cpu_ticks() {
    # Fields after the command name (which may hold blanks): utime is the 12th, stime the 13th.
    local stat
    stat=$(<"/proc/$1/stat")
    stat=${stat##*) }
    read -r -a f <<<"$stat"
    echo $((f[11] + f[12]))
}

# windows PID: waits for the process's windows to be shown; in the minimised mode it takes
# them off the screen again.
windows() {
    local ids=
    for _ in $(seq 100); do
        ids=$(xdotool search --onlyvisible --pid "$1" 2>/dev/null) && break
        sleep 0.1
    done
    [[ -n $ids ]] || { echo "the server showed no window" >&2; return 1; }
    [[ $mode == minimised ]] || return 0
    for id in $ids; do
        xdotool windowunmap "$id"
    done
}

# start LABEL DIR COMMAND...: starts one side in the background; its PID goes to pids[LABEL].
declare -A pids=()
start() {
    local label=$1 dir=$2
    shift 2
    (cd "$dir" && exec taskset -c "$cpus" "$@" >"$work/$label.out" 2>&1) &
    pids[$label]=$!
    if [[ $label == server || $label == before ]]; then
        windows "${pids[$label]}" || exit 1
    fi
}

# measure LABEL...: after the warm-up, the CPU time of every side over the same wall interval
# (so a slower or busier stretch of the machine weighs on all sides alike), then each one's
# peak; prints "LABEL cpu_seconds peak_kb" per side and stops them all.
measure() {
    local label pid
    declare -A t0=()
    sleep "$warmup"
    for label in "$@"; do
        pid=${pids[$label]}
        if ! kill -0 "$pid" 2>/dev/null; then
            echo "$label ended during the warm-up:" >&2
            tail -n 20 "$work/$label.out" >&2
            exit 1
        fi
    done
    for label in "$@"; do t0[$label]=$(cpu_ticks "${pids[$label]}"); done
    sleep "$window"
    for label in "$@"; do
        pid=${pids[$label]}
        echo "$label $(echo "scale=3; ($(cpu_ticks "$pid") - ${t0[$label]}) / $tick" | bc)" \
            "$(awk '/^VmHWM:/ { print $2 }' "/proc/$pid/status")"
    done
    for label in "$@"; do kill -INT "${pids[$label]}" 2>/dev/null || true; done
    for label in "$@"; do
        pid=${pids[$label]}
        for _ in $(seq 50); do
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.2
        done
        kill -KILL "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
}

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
spread() { sort -n | awk 'NR == 1 { lo = $1 } { hi = $1 } END { printf "%.3f..%.3f\n", lo, hi }'; }

bare_pipeline() { # FILE ENCODER-SETTINGS
    echo "videotestsrc is-live=true pattern=ball" \
        "! video/x-raw,format=BGR,width=720,height=576,framerate=25/1 ! tee name=t" \
        "t. ! queue max-size-buffers=0 max-size-bytes=0 max-size-time=2000000000" \
        "! vorlundavi gate=true stamp=true ! videoconvert ! avenc_msmpeg4 $2 ! avimux" \
        "! filesink location=$1 sync=false async=false buffer-mode=unbuffered" \
        "t. ! queue leaky=downstream max-size-buffers=2 max-size-bytes=0 max-size-time=0" \
        "! appsink name=grab caps=video/x-raw,format=BGR sync=false max-buffers=1 drop=true"
    if [[ $mode == shown ]]; then
        echo "t. ! queue leaky=downstream max-size-buffers=2 max-size-bytes=0 max-size-time=0" \
            "! videoconvert ! ximagesink sync=false"
    fi
}

echo "rounds: $rounds, warm-up ${warmup}s, window ${window}s, both sides on CPUs $cpus;" \
    "machine load: $(cut -d' ' -f1-3 /proc/loadavg)"
if [[ $mode == minimised ]]; then
    echo "mode: minimised (like for like): neither side draws; the server's window is off the" \
        "screen and the bare side has no display branch."
else
    echo "mode: shown: both draw every frame into a window on the same Xvfb, the server on the" \
        "xcb platform, the bare side through videoconvert ! ximagesink."
fi
summary=()
for case in "${cases[@]}"; do
    folder=$work/$case
    "$build/bench/server/server_bench_config" "$folder" "$case"
    [[ -z $before ]] || "$build/bench/server/server_bench_config" "$folder-before" "$case"
    encoder=$("$build/bench/server/server_bench_config" --encoder "$folder" "$case")
    mkdir -p "$work/bare-$case"
    echo
    echo "== $case (encoder:$encoder)"
    cpu_ratios=() mem_ratios=() before_cpu=() before_mem=() after_before=()
    sides=(server bare)
    [[ -z $before ]] || sides+=(before)
    for round in $(seq "$rounds"); do
        bare_file=$work/bare-$case/bare$round.avi
        # All sides run at once, measured over the same interval; each round starts them in
        # another order, so no side always starts first.
        declare -A result=()
        order=()
        for ((k = 0; k < ${#sides[@]}; ++k)); do
            side=${sides[(round - 1 + k) % ${#sides[@]}]}
            order+=("$side")
            case $side in
            server) start server "$folder" "$build/Vorlund/Vorlund" ;;
            before) start before "$folder-before" "$before/Vorlund/Vorlund" ;;
            bare) start bare "$work" "$build/bench/server/server_bench_bare" "$(bare_pipeline "$bare_file" "$encoder")" ;;
            esac
        done
        while read -r side cpu peak; do
            result[$side]="$cpu $peak"
        done < <(measure "${order[@]}")
        read -r scpu speak <<<"${result[server]}"
        read -r bcpu bpeak <<<"${result[bare]}"
        cpu_ratios+=("$(echo "scale=3; $scpu / $bcpu" | bc)")
        mem_ratios+=("$(echo "scale=3; $speak / $bpeak" | bc)")
        line="round $round: server cpu ${scpu}s peak ${speak} KiB | bare cpu ${bcpu}s peak ${bpeak} KiB | cpu ratio ${cpu_ratios[-1]} memory ratio ${mem_ratios[-1]}"
        if [[ -n $before ]]; then
            read -r pcpu ppeak <<<"${result[before]}"
            before_cpu+=("$(echo "scale=3; $pcpu / $bcpu" | bc)")
            before_mem+=("$(echo "scale=3; $ppeak / $bpeak" | bc)")
            after_before+=("$(echo "scale=3; $scpu / $pcpu" | bc)")
            line+=" | before cpu ${pcpu}s peak ${ppeak} KiB: ratios ${before_cpu[-1]} ${before_mem[-1]}; server/before ${after_before[-1]}"
        fi
        echo "$line"
        echo "$scpu $bcpu ${pcpu:-0}" >>"$work/$case.cpu"
        unset result
    done
    cpu=$(printf '%s\n' "${cpu_ratios[@]}" | median)
    # The rounds pooled: all of the server's CPU time over all of the bare side's.
    pooled=$(awk '{ s += $1; b += $2 } END { printf "%.3f", s / b }' "$work/$case.cpu")
    mem=$(printf '%s\n' "${mem_ratios[@]}" | median)
    cpu_spread=$(printf '%s\n' "${cpu_ratios[@]}" | spread)
    mem_spread=$(printf '%s\n' "${mem_ratios[@]}" | spread)
    recordings=$(find "$folder/CaptureData" -maxdepth 1 -type f | wc -l)
    snapshots=$(find "$folder/CaptureData" -mindepth 2 -name '*.jpg' | wc -l)
    echo "median cpu ratio $cpu ($cpu_spread), pooled $pooled, median memory ratio $mem ($mem_spread);" \
        "server wrote $recordings recordings, $snapshots snapshots"
    summary+=("$(printf '%-7s cpu %s (%s) pooled %s  memory %s (%s)' "$case" "$cpu" "$cpu_spread" "$pooled" "$mem" "$mem_spread")")
    if [[ -n $before ]]; then
        summary+=("$(printf '%-7s cpu %s (%s) pooled %s  memory %s (%s)' "before" \
            "$(printf '%s\n' "${before_cpu[@]}" | median)" "$(printf '%s\n' "${before_cpu[@]}" | spread)" \
            "$(awk '{ s += $3; b += $2 } END { printf "%.3f", s / b }' "$work/$case.cpu")" \
            "$(printf '%s\n' "${before_mem[@]}" | median)" "$(printf '%s\n' "${before_mem[@]}" | spread)")")
        summary+=("$(printf '%-7s cpu %s (%s)' "server/before" \
            "$(printf '%s\n' "${after_before[@]}" | median)" "$(printf '%s\n' "${after_before[@]}" | spread)")")
    fi
done
echo
echo "medians (lowest..highest) of $rounds interleaved rounds, mode $mode (goals like for like: cpu record <= 1.05, detect <= 1.12, four <= 1.12; memory <= 1.4):"
printf '  %s\n' "${summary[@]}"
