#!/usr/bin/env bash
# The server left to run unattended (by hand, after a build; loopback only, bounded in time).
#
#   scripts/soak.sh [--minutes N] [--sound] [--keep]        (default 60)
#
# The server records the test camera continuously with a new file every MB, the nightly
# recycler keeping the recordings under a few MB and a time-lapse picture every 30 s. TZ is set
# so local midnight falls about five minutes into the run: the recycler's pass (00:03-00:05)
# and the day change both happen. The test picture is still and moving by turns (40 s each),
# so motion starts and ends. One viewer stays connected throughout, through every capture
# restart; a second one comes and goes every three minutes. CPU and memory are sampled every 10 s. At the end: memory growth
# after the first five minutes under 5 %, every recording passes a strict AVI reader and plays through GStreamer to its end,
# the time-lapse pictures are whole and numbered without gaps, the error log holds the
# recycler's one report and nothing else. With --sound the recording is motion-gated with the
# test sound (the picture moving and still by turns, 6 s each, so the gates open and shut
# some ten times a minute) and each recording's sound must last as long as its pictures.
set -uo pipefail
source "$(dirname "$0")/reliability-common.sh"

minutes=60
keep=0
with_sound=0
while [ $# -gt 0 ]; do
    case $1 in
    --minutes) minutes=$2; shift 2 ;;
    --keep) keep=1; shift ;;
    --sound) with_sound=1; shift ;;
    *) echo "usage: $0 [--minutes N] [--sound] [--keep]" >&2; exit 2 ;;
    esac
done
need_built
[ "$minutes" -ge 1 ] && [ "$minutes" -le 1440 ] || { echo "minutes: 1..1440" >&2; exit 2; }
recycle_mb=2

work=$(mktemp -d /tmp/vorlund-soak.XXXXXX)
pids=()
cleanup() {
    local p
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
    stop_server TERM
    if [ "$keep" = 1 ]; then echo "kept $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT

# A POSIX zone whose local time is 23:55 now (the sign in TZ is west of Greenwich).
TZ=$(python3 - <<'PY'
import time
now = int(time.time())
offset = (23 * 3600 + 55 * 60 - now % 86400) % 86400
if offset > 12 * 3600:
    offset -= 86400
sign = "-" if offset >= 0 else "+"
a = abs(offset)
print(f"VLD{sign}{a // 3600:02d}:{a % 3600 // 60:02d}:{a % 60:02d}")
PY
)
export TZ
echo "TZ=$TZ: local time now $(date +%H:%M:%S)"

folder=$work/server
port=$(free_port)
export VORLUND_TEST_CAMERA_CYCLE=40
extra=()
if [ "$with_sound" = 1 ]; then
    export VORLUND_TEST_CAMERA_CYCLE=6
    extra=(--motion 2 --sound avi)
fi
"$config" "$folder" "$port" --rollover-mb 1 --recycle-mb "$recycle_mb" --timelapse-min 0.5 \
    "${extra[@]}" || exit 1
start_server "$folder" "$work/server.out"
pid=$server_pid
t0=$(date +%s)
end=$((t0 + minutes * 60))
echo "server $pid on port $port in $folder, $minutes min from $(date '+%H:%M:%S %Z')"

for i in $(seq 1 100); do
    python3 -c "import socket; socket.create_connection(('127.0.0.1', $port), 0.2).close()" \
        2>/dev/null && break
    sleep 0.2
done

# Viewer 1 would log in again if its link were lost; the check below wants no loss at all.
python3 "$probe" viewer "$port" $((minutes * 60 + 60)) --reconnect 1000 >"$work/viewer1.txt" 2>&1 &
viewer1=$!
pids+=("$viewer1")

# The second viewer: 60 s on, 120 s off, until the end.
(
    n=0
    while [ $(($(date +%s) + 70)) -lt "$end" ] && [ "$n" -lt 1000 ]; do
        sleep 120
        [ $(($(date +%s) + 70)) -lt "$end" ] || break
        echo "$(date +%H:%M:%S) $(python3 "$probe" viewer "$port" 60 --reconnect 5)"
        n=$((n + 1))
    done
) >"$work/viewer2.txt" 2>&1 &
pids+=($!)

# Samples every 10 s: elapsed seconds, local time, CPU % over the interval, VmRSS KiB, threads, fds.
samples=$work/samples.txt
hz=$(getconf CLK_TCK)
last_ticks=$(cpu_ticks "$pid")
last_t=$(date +%s)
while [ "$(date +%s)" -lt "$end" ] && kill -0 "$pid" 2>/dev/null; do
    sleep 10
    now=$(date +%s)
    ticks=$(cpu_ticks "$pid")
    cpu=$(python3 -c "print(f'{100 * ($ticks - $last_ticks) / $hz / max(1, $now - $last_t):.1f}')")
    last_ticks=$ticks
    last_t=$now
    threads=$(awk '/^Threads:/ {print $2}' "/proc/$pid/status" 2>/dev/null)
    fds=$(ls "/proc/$pid/fd" 2>/dev/null | wc -l)
    echo "$((now - t0)) $(date +%H:%M:%S) $cpu $(rss_kb "$pid") $threads $fds" | tee -a "$samples"
    ls "$folder/CaptureData" | grep -i '\.avi$' >>"$work/recordings-seen.txt"
done
restarts=$(( $(sort -u "$work/recordings-seen.txt" | wc -l) - 1 ))
alive=yes
kill -0 "$pid" 2>/dev/null || alive=no
kill -INT "$viewer1" 2>/dev/null
wait "$viewer1" 2>/dev/null
stop_server TERM
for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
pids=()

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
echo "== soak.sh: $(( ($(date +%s) - t0) / 60 )) min, TZ=$TZ"
[ "$alive" = yes ] || fail "the server died during the run"

# Memory: the sample nearest five minutes against the last one.
read -r rss5 rss_end rss_first cpu_avg <<<"$(awk '
    NR == 1 {first = $4}
    $1 >= 300 && !m5 {m5 = $4}
    {last = $4; cpu += $3; n++}
    END {if (!m5) m5 = first; printf "%d %d %d %.1f", m5, last, first, n ? cpu / n : 0}' "$samples")"
growth=$(python3 -c "print(f'{100 * ($rss_end - $rss5) / max(1, $rss5):.2f}')")
echo "memory (VmRSS): first ${rss_first} KiB, at 5 min ${rss5} KiB, end ${rss_end} KiB, growth ${growth} %"
echo "cpu: mean ${cpu_avg} % of one core"
python3 -c "import sys; sys.exit(0 if $growth < 5 else 1)" || fail "memory grew ${growth} % after the first 5 minutes"
echo "capture restarts (new recordings): $restarts"
echo "viewer 1: $(cat "$work/viewer1.txt")"
grep -q "error=" "$work/viewer1.txt" && fail "viewer 1 could not stay connected"
lost=$(sed -n 's/.* lost=\([0-9]*\).*/\1/p' "$work/viewer1.txt")
[ "${lost:-0}" = 0 ] || fail "viewer 1 lost its link $lost times in $restarts capture restarts"
echo "viewer 2: $(grep -c fps= "$work/viewer2.txt") visits"
sed 's/^/  /' "$work/viewer2.txt"
grep -q "error=" "$work/viewer2.txt" && fail "viewer 2 could not stay connected"

recordings=0
bad=0
bytes=0
while IFS= read -r -d '' f; do
    recordings=$((recordings + 1))
    bytes=$((bytes + $(stat -c %s "$f")))
    sound "$f" || { bad=$((bad + 1)); fail "$(basename "$f") is not sound: $("$strict" "$f")"; }
    if [ "$with_sound" = 1 ] && ! complete_with_sound "$f"; then
        bad=$((bad + 1))
        fail "$(basename "$f"): its sound does not keep to its pictures"
    fi
done < <(find "$folder/CaptureData" -maxdepth 1 -iname '*.avi' -print0)
echo "recordings left: $recordings ($((bytes / 1000)) kB), not sound: $bad"
[ "$recordings" -gt 0 ] || fail "no recordings"

motion=$(find "$folder/CaptureData" -path '*TimeLapse*' -prune -o -iname '*.jpg' -print | wc -l)
echo "motion pictures: $motion"
[ "$motion" -gt 0 ] || fail "no motion pictures: motion never started"
jpegs=$(partial_jpegs "$folder/CaptureData")
partial=$(grep -c '^partial' <<<"$jpegs")
echo "pictures: ${jpegs##*checked }, partial: $partial"
[ "$partial" = 0 ] || { fail "partial pictures"; grep '^partial' <<<"$jpegs" | head; }
# Time-lapse pictures carry a running number; the run must show no gap.
python3 - "$folder/CaptureData" <<'PY' || fail "time-lapse numbering has gaps"
import os, re, sys
names = []
for dirpath, _, files in os.walk(sys.argv[1]):
    if "timelapse" in dirpath.lower():
        names += files
nums = sorted(int(m.group(1)) for n in names if (m := re.search(r"(\d+)\.jpe?g$", n, re.I)))
print(f"time-lapse pictures: {len(nums)}, numbers {nums[:1]}..{nums[-1:]}")
gaps = [b for a, b in zip(nums, nums[1:]) if b != a + 1]
if gaps:
    print(f"gaps before: {gaps[:10]}")
sys.exit(1 if gaps or not nums else 0)
PY
# The recycler's one nightly pass reports to the error log; nothing else may be there.
reports=$(grep -c '^.*Video File Recycle: [0-9]* files\. total size = [0-9]*\. [0-9]* to delete\.' \
    "$folder/vorlund.log" 2>/dev/null)
echo "recycler (limit ${recycle_mb} MB): ${reports:-0} reports"
grep 'Video File Recycle' "$folder/vorlund.log" 2>/dev/null | sed 's/^/  /'
[ "${reports:-0}" = 1 ] || fail "expected one recycler report, found ${reports:-0}"
# Entries begin with CR LF.
others=$(tr -d '\r' <"$folder/vorlund.log" 2>/dev/null | grep -v 'Video File Recycle' | grep -c .)
if [ "${others:-0}" != 0 ]; then
    fail "error log holds $others other lines"
    tr -d '\r' <"$folder/vorlund.log" | grep -v 'Video File Recycle' | grep . | sed -n '1,30p'
fi
echo "samples: $samples ($(wc -l <"$samples") lines)"
echo "failures: $failures"
[ "$failures" = 0 ]
