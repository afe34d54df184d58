#!/usr/bin/env bash
# Hostile viewers against the running server's port on 127.0.0.1 (run by hand after a build).
#
#   scripts/hostile.sh [--sessions N] [--baseline-seconds S] [--max-seconds M] [--keep]
#
# The server asks for a password. A well-behaved viewer that knows it measures the frame rate
# alone, then again while N hostile sessions (malformed logins, requests and passwords,
# oversized and truncated input, slow readers that never read, abrupt closes) hit the port; the
# rate must stay at 90 % or more of the first and the server's memory must stay bounded (under
# 20 % growth). Last, a viewer that knows the password asks for frames and never reads them: the
# server must drop it (the well-behaved viewer shares the frames with it meanwhile, so its rate
# is only reported). Every loop is bounded in count and time.
set -uo pipefail
source "$(dirname "$0")/reliability-common.sh"

sessions=1000
baseline=20
max_seconds=600
keep=0
while [ $# -gt 0 ]; do
    case $1 in
    --sessions) sessions=$2; shift 2 ;;
    --baseline-seconds) baseline=$2; shift 2 ;;
    --max-seconds) max_seconds=$2; shift 2 ;;
    --keep) keep=1; shift ;;
    *) echo "usage: $0 [--sessions N] [--baseline-seconds S] [--max-seconds M] [--keep]" >&2; exit 2 ;;
    esac
done
need_built

work=$(mktemp -d /tmp/vorlund-hostile.XXXXXX)
sampler=
cleanup() {
    [ -n "$sampler" ] && kill "$sampler" 2>/dev/null
    stop_server TERM
    if [ "$keep" = 1 ]; then echo "kept $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT
folder=$work/server
port=$(free_port)
password=Vorlund39
"$config" "$folder" "$port" --rollover-mb 5 --password "$password" || exit 1
start_server "$folder" "$work/server.out"
for i in $(seq 1 100); do # the port opens once capture runs
    python3 -c "import socket; socket.create_connection(('127.0.0.1', $port), 0.2).close()" \
        2>/dev/null && break
    sleep 0.2
done
sleep 3
pid=$server_pid
rss_start=$(rss_kb "$pid")

fps_of() { sed -n 's/.*fps=\([0-9.]*\).*/\1/p' <<<"$1"; }

alone=$(python3 "$probe" viewer "$port" "$baseline" --password "$password")
echo "viewer alone:     $alone"
rss_alone=$(rss_kb "$pid")

# Memory every 2 s while the hostile sessions run.
(
    for i in $(seq 1 $((max_seconds / 2 + 30))); do
        echo "$(date +%s) $(rss_kb "$pid")"
        sleep 2
    done
) >"$work/rss.txt" &
sampler=$!
python3 "$probe" viewer "$port" "$max_seconds" --password "$password" >"$work/viewer.txt" &
viewer=$!
sleep 1
t0=$(date +%s)
hostile=$(python3 "$probe" hostile "$port" "$sessions" --seconds "$max_seconds")
t1=$(date +%s)
kill -INT "$viewer" 2>/dev/null # the viewer prints its figures on the way out
wait "$viewer" 2>/dev/null
during=$(cat "$work/viewer.txt")
rss_hostile=$(rss_kb "$pid")
python3 "$probe" viewer "$port" 40 --password "$password" >"$work/viewer-stalled.txt" &
viewer=$!
sleep 1
stalled=$(python3 "$probe" hostile "$port" 0 --stalled-viewer 30 --password "$password")
kill -INT "$viewer" 2>/dev/null
wait "$viewer" 2>/dev/null
beside=$(cat "$work/viewer-stalled.txt")
kill "$sampler" 2>/dev/null
sampler=
after=$(python3 "$probe" viewer "$port" 10 --password "$password")
rss_end=$(rss_kb "$pid")
rss_peak=$(awk 'max < $2 {max = $2} END {print max + 0}' "$work/rss.txt")
alive=yes
kill -0 "$pid" 2>/dev/null || alive=no

echo "hostile run:      $hostile ($((t1 - t0)) s)"
echo "viewer during:    $during"
echo "stalled viewer:   ${stalled##*stalled_viewer=}"
echo "viewer beside it: $beside"
echo "viewer after:     $after"
echo "memory (VmRSS):   start ${rss_start} KiB, after the lone viewer ${rss_alone} KiB, after the hostile sessions ${rss_hostile} KiB, peak ${rss_peak} KiB, end ${rss_end} KiB"
echo "server alive:     $alive"
failures=0
ratio=$(python3 -c "a=float('$(fps_of "$alone")' or 0); d=float('$(fps_of "$during")' or 0); print(f'{d / a:.3f}' if a else 0)")
echo "frame rate kept:  $ratio"
python3 -c "import sys; sys.exit(0 if $ratio >= 0.9 else 1)" || { echo "FAIL: frame rate under 90 %"; failures=$((failures + 1)); }
python3 -c "import sys; sys.exit(0 if $rss_peak <= 1.2 * $rss_alone else 1)" || { echo "FAIL: memory grew over 20 %"; failures=$((failures + 1)); }
grep -q "dropped-by-server" <<<"$stalled" || { echo "FAIL: the stalled viewer was not dropped"; failures=$((failures + 1)); }
[ "$alive" = yes ] || { echo "FAIL: the server died"; failures=$((failures + 1)); }
grep -q "error=" <<<"$during$after" && { echo "FAIL: the viewer lost its session"; failures=$((failures + 1)); }
if [ -s "$folder/vorlund.log" ]; then
    echo "error log:"
    sed -n '1,20p' "$folder/vorlund.log"
fi
echo "failures: $failures"
[ "$failures" = 0 ]
