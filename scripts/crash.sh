#!/usr/bin/env bash
# The server killed with SIGKILL at random moments while it records (run by hand after a build).
#
#   scripts/crash.sh [--runs N] [--min-seconds A] [--max-seconds B] [--keep]
#
# Each run starts the server recording continuously (a new file every MB, snapshots on motion,
# a time-lapse picture every few seconds) and kills it A..B seconds later. Afterwards every
# recording must pass the repair tests' strict reader and play through GStreamer to its end, or
# be repaired by Mendrel --repair into one that does; no JPEG picture may be cut short or be
# overwritten by a later run; the settings file and the profile must load with the values
# written before the first run. Loopback only; every wait is bounded.
set -uo pipefail
source "$(dirname "$0")/reliability-common.sh"

runs=20
min_s=3
max_s=15
keep=0
while [ $# -gt 0 ]; do
    case $1 in
    --runs) runs=$2; shift 2 ;;
    --min-seconds) min_s=$2; shift 2 ;;
    --max-seconds) max_s=$2; shift 2 ;;
    --keep) keep=1; shift ;;
    *) echo "usage: $0 [--runs N] [--min-seconds A] [--max-seconds B] [--keep]" >&2; exit 2 ;;
    esac
done
need_built

work=$(mktemp -d /tmp/vorlund-crash.XXXXXX)
cleanup() {
    stop_server KILL
    if [ "$keep" = 1 ]; then echo "kept $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT
folder=$work/server
port=$(free_port)
options=(--rollover-mb 1 --timelapse-min 0.05)
"$config" "$folder" "$port" "${options[@]}" || exit 1
"$config" "$folder" "$port" "${options[@]}" --check || { echo "settings do not read back" >&2; exit 1; }
log=$work/server.out
# The repair takes its headers from a good recording of the same settings: one stopped properly.
reference=$work/reference.avi
start_server "$folder" "$log"
sleep 8
stop_server TERM
first=$(find "$folder/CaptureData" -name '*.avi' | head -1)
if [ -z "$first" ] || ! sound "$first"; then
    echo "a recording stopped by SIGTERM is not sound: $("$strict" "$first" 2>&1)" >&2
    exit 1
fi
mv "$first" "$reference"
echo "reference: $("$strict" "$reference")"
declare -A checked
failures=0
recordings=0
repaired=0
unrepairable=0
pictures=0
partial=0
overwritten=0
start=$(date +%s)

fail() {
    echo "  FAIL: $*"
    failures=$((failures + 1))
}

check_recording() { # a recording not seen before
    local f=$1 base=${1%.avi}
    recordings=$((recordings + 1))
    if sound "$f"; then
        return
    fi
    # The repair works in place: it runs on a copy beside the folder, the original stays.
    local fixed="$work/repaired/$(basename "$f")" out
    mkdir -p "$work/repaired"
    cp "$f" "$fixed"
    if out=$("$mendrel" --repair "$fixed" "$reference" 2>&1) && sound "$fixed"; then
        repaired=$((repaired + 1))
        local kept whole
        kept=$("$strict" "$fixed" | sed 's/.*: video=\([0-9]*\).*/\1/')
        whole=$(complete_frames "$f")
        echo "  repaired $(basename "$f") ($(stat -c %s "$f") bytes -> $(stat -c %s "$fixed")," \
            "$kept frames of $whole complete)"
        [ "$kept" = "$whole" ] || fail "$(basename "$f"): the repair kept $kept of $whole complete frames"
    else
        unrepairable=$((unrepairable + 1))
        fail "$(basename "$f") neither plays nor repairs: $(echo "$out" | tail -1)"
        cp "$f" "$work/" 2>/dev/null
    fi
}

for run in $(seq 1 "$runs"); do
    delay=$(python3 -c "import random; print(round(random.uniform($min_s, $max_s), 2))")
    start_server "$folder" "$log"
    sleep "$delay"
    stop_server KILL
    echo "run $run: killed after ${delay}s"
    # The file being written when the server died is the newest; older ones were closed by a
    # rollover. Every recording is checked once, when it first appears.
    while IFS= read -r -d '' f; do
        [ -n "${checked[$f]:-}" ] && continue
        checked[$f]=1
        check_recording "$f"
    done < <(find "$folder/CaptureData" -name '*.avi' -print0 | sort -z)
    jpegs=$(partial_jpegs "$folder/CaptureData")
    pictures=${jpegs##*checked }
    while read -r _ p size; do
        partial=$((partial + 1))
        fail "partial picture $p ($size bytes)"
    done < <(grep '^partial' <<<"$jpegs")
    # Pictures of earlier runs stay as they were: numbering goes on after them (the counts
    # are far from their limits here, so nothing may wrap).
    find "$folder/CaptureData" -iname '*.jpg' -printf '%p %T@\n' | sort >"$work/pictures.now"
    if [ -f "$work/pictures.before" ]; then
        replaced=$(join -o 1.1,1.2,2.2 "$work/pictures.before" "$work/pictures.now" |
            awk '$2 != $3' | wc -l)
        overwritten=$((overwritten + replaced))
        [ "$replaced" = 0 ] || fail "$replaced pictures of earlier runs were overwritten"
    fi
    mv "$work/pictures.now" "$work/pictures.before"
    leftovers=$(find "$folder" -name '*.tmp' -o -name '*~' | wc -l)
    [ "$leftovers" = 0 ] || echo "  note: $leftovers temporary files left behind"
    if ! "$config" "$folder" "$port" "${options[@]}" --check; then
        fail "settings or profile changed after run $run"
    fi
done

# The error log may tell of the repairs' causes, never of anything else.
errors=$(grep -c . "$folder/vorlund.log" 2>/dev/null || echo 0)
echo "== crash.sh: $runs kills in $(($(date +%s) - start)) s"
echo "recordings checked: $recordings (sound: $((recordings - repaired - unrepairable)), repaired: $repaired, unrepairable: $unrepairable)"
echo "pictures checked after the last run: $pictures (partial over all runs: $partial, overwritten: $overwritten)"
echo "error log lines: $errors"
[ "$errors" = 0 ] || sed -n '1,20p' "$folder/vorlund.log"
echo "failures: $failures"
[ "$failures" = 0 ]
