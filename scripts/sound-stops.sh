#!/usr/bin/env bash
# Motion-gated recording with sound, stopped every way capture stops (by hand, after a build;
# loopback only, bounded in time).
#
#   scripts/sound-stops.sh [--kinds "avi mp4 wmv"] [--keep]
#
# For each kind (AVI with MP3, MP4 with AAC, Windows Media) the test camera's picture is
# moving and still by turns (6 s each), so the gates open and shut and stay shut for longer
# than the sound queue takes to fill. Capture is stopped by SIGTERM (four short runs), by
# rollover at 1 MB and by the end of a schedule window (one long run), by the disk guard on
# a small file system (as root, in a mount namespace of its own), and by the display going
# away under the server (Xvfb killed; Qt ends the process itself). Each SIGTERM must end the server within 10 s; every file left must be
# complete (AVI indexed and read by a strict reader, MP4 with its moov, ASF with its index),
# decode without an error, hold frames, and carry sound within 0.1 s of its pictures.
set -uo pipefail
source "$(dirname "$0")/reliability-common.sh"

kinds="avi mp4 wmv"
keep=0
while [ $# -gt 0 ]; do
    case $1 in
    --kinds) kinds=$2; shift 2 ;;
    --keep) keep=1; shift ;;
    *) echo "usage: $0 [--kinds \"avi mp4 wmv\"] [--keep]" >&2; exit 2 ;;
    esac
done
need_built
command -v ffprobe >/dev/null || { echo "$0: ffprobe is missing (apt-get install ffmpeg)" >&2; exit 1; }
command -v Xvfb >/dev/null || { echo "$0: Xvfb is missing (apt-get install xvfb)" >&2; exit 1; }

work=$(mktemp -d /tmp/vorlund-sound.XXXXXX)
cleanup() {
    stop_server KILL
    if [ "$keep" = 1 ]; then echo "kept $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT
export VORLUND_TEST_CAMERA_CYCLE=6

failures=0
stops=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# await_end FOLDER WHAT: the server must end within 10 s of WHAT, or it is killed.
await_end() {
    local i
    for i in $(seq 1 100); do kill -0 "$server_pid" 2>/dev/null || break; sleep 0.1; done
    if kill -0 "$server_pid" 2>/dev/null; then
        fail "$(basename "$1"): still running 10 s after $2"
        stop_server KILL
    else
        wait "$server_pid" 2>/dev/null
        server_pid=
    fi
}

# term_run FOLDER SECONDS: runs the server, then SIGTERM; the stop must end within 10 s.
term_run() {
    start_server "$1" "$1/server.out"
    sleep "$2"
    local t0 t1
    t0=$(date +%s%N)
    kill -TERM "$server_pid"
    await_end "$1" SIGTERM
    t1=$(date +%s%N)
    stops=$((stops + 1))
    echo "  $(basename "$1"): stopped $(( (t1 - t0) / 1000000 )) ms after SIGTERM"
}

# display_run FOLDER SECONDS: the server on an Xvfb of its own, which is killed; the server must
# end within 10 s, finish its recording and log why it ended.
display_run() {
    local xvfb display fifo=$1.display
    mkfifo "$fifo"
    Xvfb -displayfd 3 -screen 0 1024x768x24 3>"$fifo" >/dev/null 2>&1 &
    xvfb=$!
    read -r -t 10 display <"$fifo"
    rm -f "$fifo"
    if [ -z "$display" ]; then
        fail "$(basename "$1"): Xvfb did not start"
        kill "$xvfb" 2>/dev/null
        return
    fi
    QT_QPA_PLATFORM=xcb DISPLAY=:$display start_server "$1" "$1/server.out"
    sleep "$2"
    kill "$xvfb"
    wait "$xvfb" 2>/dev/null
    await_end "$1" "its display went away"
    grep -q "The display's connection broke" "$1/vorlund.log" 2>/dev/null \
        || fail "$(basename "$1"): the log does not say the display went away"
    stops=$((stops + 1))
    echo "  $(basename "$1"): ended with its display"
}

# check_files FOLDER: every recording complete, decodable, with frames and its sound.
check_files() {
    local f n=0
    for f in "$1"/CaptureData/*.avi "$1"/CaptureData/*.mp4 "$1"/CaptureData/*.wmv; do
        [ -f "$f" ] || continue
        n=$((n + 1))
        local errors
        errors=$(ffmpeg -v error -i "$f" -f null - 2>&1 | head -3)
        # asfmux's last packet can carry a bad padding size (a bare pipeline of the same
        # encoders and muxer does it too); players read the file to its end all the same.
        # Only errors inside the data's last packet are the muxer's.
        if [[ $f == *.wmv ]] && python3 "$(dirname "$0")/asf_last_packet.py" "$f" <<<"$errors"; then
            [ -z "$errors" ] || echo "  $(basename "$f"): the muxer's last packet: ${errors%%$'\n'*}"
            errors=
        fi
        [ -z "$errors" ] || fail "$(basename "$f"): $errors"
        case $f in
        *.avi) "$strict" "$f" >/dev/null || fail "$(basename "$f"): $("$strict" "$f")" ;;
        esac
        complete_with_sound "$f" || fail "$(basename "$f") is not complete or its sound drifts"
    done
    [ "$n" -gt 0 ] || fail "$(basename "$1"): no recording"
}

for kind in $kinds; do
    echo "== $kind"
    for run in 1 2 3 4; do
        folder=$work/$kind-term-$run
        "$config" "$folder" "$(free_port)" --motion 2 --sound "$kind" >/dev/null || exit 1
        term_run "$folder" $((20 + RANDOM % 15))
        check_files "$folder"
    done
    folder=$work/$kind-display
    "$config" "$folder" "$(free_port)" --motion 2 --sound "$kind" >/dev/null || exit 1
    display_run "$folder" $((20 + RANDOM % 15))
    check_files "$folder"

    # Rollover at 1 MB, and a schedule window that ends two minutes in; then SIGTERM.
    folder=$work/$kind-restarts
    "$config" "$folder" "$(free_port)" --motion 2 --sound "$kind" --rollover-mb 1 --window-min 2 \
        >/dev/null || exit 1
    term_run "$folder" 200
    files=$(ls "$folder/CaptureData" | grep -c -E '\.(avi|mp4|wmv)$')
    stops=$((stops + files - 1))
    # Windows Media files grow slowly: 200 s may hold no rollover, but the window always ends.
    echo "  $files recordings: $((files - 1)) restarts by rollover and the window's end"
    [ "$files" -ge 2 ] || fail "$kind: expected at least the window's end, got $files recordings"
    check_files "$folder"

    # The disk guard: a small file system a little over the 2 % it keeps free.
    folder=$work/$kind-disk
    mkdir -p "$folder"
    unshare -m --propagation private bash -c '
        set -e
        mount -t tmpfs -o size=24m tmpfs "$1"
        "$2" "$1" "$3" --motion 2 --sound "$4" --window-min 30 >/dev/null
        free=$(( $(stat -f -c "%a * %S" "$1") ))
        total=$(( $(stat -f -c "%b * %S" "$1") ))
        head -c $(( free - total * 23 / 1000 )) /dev/zero >"$1/filler"
        cd "$1" && timeout -s TERM 90 "$5" >"$1/server.out" 2>&1 || true
        # The guard stops capture and keeps the window open: the recording stops growing.
        newest=$(stat -c %Y "$1"/CaptureData/v* | sort -n | tail -1)
        [ $(( $(date +%s) - newest )) -ge 15 ] || echo "the guard did not stop capture"
        rm -f "$1/filler"
        mkdir -p "$6" && cp -r "$1/CaptureData" "$6/"
    ' _ "$folder" "$config" "$(free_port)" "$kind" "$server" "$folder-copy" \
        >"$folder.txt" 2>&1
    if [ -s "$folder.txt" ]; then
        fail "$kind disk guard: $(cat "$folder.txt")"
    else
        stops=$((stops + 1))
        echo "  the disk guard stopped capture"
    fi
    check_files "$folder-copy"
done

echo "stops: $stops"
echo "failures: $failures"
[ "$failures" = 0 ]
