#!/usr/bin/env bash
# Motion-gated recording with sound: is an event's end on disk during the quiet after it? (By
# hand, after a build; loopback only, bounded in time.)
#
#   scripts/event-quiet.sh [--kinds "avi mp4 wmv"] [--quiet S] [--keep]
#
# For each kind the test camera moves for a while and then stands still. Once the recording
# file has not grown for S seconds (10 by default: the gates shut when the motion's countdown
# ran out), a copy of it is taken and the server is stopped with SIGTERM. The copy must hold
# every packet of the stopped file but at most 2 of each stream (ffprobe packet counts): what
# the multiplexer still held through the quiet, which a power cut would lose.
set -uo pipefail
source "$(dirname "$0")/reliability-common.sh"

kinds="avi mp4 wmv"
quiet=10
keep=0
while [ $# -gt 0 ]; do
    case $1 in
    --kinds) kinds=$2; shift 2 ;;
    --quiet) quiet=$2; shift 2 ;;
    --keep) keep=1; shift ;;
    *) echo "usage: $0 [--kinds \"avi mp4 wmv\"] [--quiet S] [--keep]" >&2; exit 2 ;;
    esac
done
need_built
command -v ffprobe >/dev/null || { echo "$0: ffprobe is missing (apt-get install ffmpeg)" >&2; exit 1; }

work=$(mktemp -d /tmp/vorlund-quiet.XXXXXX)
cleanup() {
    stop_server KILL
    if [ "$keep" = 1 ]; then echo "kept $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT
# Moving, then still for longer than the countdown and the quiet together.
export VORLUND_TEST_CAMERA_CYCLE=$((quiet + 12))

# packets FILE STREAM: the packets ffprobe reads of one stream ("v" or "a").
packets() {
    ffprobe -v error -select_streams "$2" -count_packets -show_entries stream=nb_read_packets \
        -of csv=p=0 "$1" 2>/dev/null | head -1
}

failures=0
for kind in $kinds; do
    folder=$work/$kind
    "$config" "$folder" "$(free_port)" --motion 2 --sound "$kind" >/dev/null || exit 1
    start_server "$folder" "$folder/server.out"
    file= size=-1 since=0 grown=0
    for i in $(seq 1 $((4 * (60 + quiet)))); do
        sleep 0.25
        file=$(ls -t "$folder"/CaptureData/*."$kind" 2>/dev/null | head -1)
        [ -n "$file" ] || continue
        now=$(stat -c %s "$file")
        if [ "$now" != "$size" ]; then
            [ "$size" -gt 0 ] 2>/dev/null && grown=1
            size=$now
            since=$i
        elif [ "$grown" = 1 ] && [ $((i - since)) -ge $((4 * quiet)) ]; then
            break
        fi
    done
    if [ "$grown" != 1 ]; then
        echo "FAIL $kind: the recording never grew"
        failures=$((failures + 1))
        stop_server KILL
        continue
    fi
    cp "$file" "$work/$kind-quiet.$kind"
    stop_server TERM
    copy_v=$(packets "$work/$kind-quiet.$kind" v) copy_a=$(packets "$work/$kind-quiet.$kind" a)
    end_v=$(packets "$file" v) end_a=$(packets "$file" a)
    echo "$kind: during the quiet ${copy_v:-?} pictures, ${copy_a:-?} sound packets;" \
        "after the stop ${end_v:-?} and ${end_a:-?}"
    if [ -z "$copy_v" ] || [ -z "$end_v" ] || [ $((end_v - copy_v)) -gt 2 ] \
        || [ $(( ${end_a:-0} - ${copy_a:-0} )) -gt 2 ]; then
        echo "FAIL $kind: the quiet's copy misses more than 2 packets of a stream"
        failures=$((failures + 1))
    fi
done
echo "$failures failure(s)"
[ "$failures" = 0 ]
