# Shared by scripts/crash.sh, hostile.sh and soak.sh (sourced, not run).
# The server runs in a temporary working folder on the test camera; everything is on 127.0.0.1.

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${VORLUND_BUILD:-$root/build}
server=$build/Vorlund/Vorlund
mendrel=$build/Mendrel/Mendrel
config=$build/bench/reliability/reliability_config
strict=$build/bench/reliability/avi_strict_check
probe=$root/scripts/viewer_probe.py
export QT_QPA_PLATFORM=offscreen GST_REGISTRY_FORK=no GST_PLUGIN_PATH=$build/plugins
export PYTHONDONTWRITEBYTECODE=1

need_built() {
    local f
    for f in "$server" "$mendrel" "$config" "$strict"; do
        if [ ! -x "$f" ]; then
            echo "$(basename "$0"): $f is not built (cmake --build build)." >&2
            exit 1
        fi
    done
}

# A port the kernel hands out now; the server binds it a moment later.
free_port() {
    python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'
}

server_pid=
server_status= # how the server ended when it was gone before stop_server asked it to
# start_server FOLDER LOGFILE: starts the server in FOLDER in the background. VORLUND_WRAP puts
# a command in front of it (valgrind, gdb -batch -ex run -ex bt --args, ...).
start_server() {
    # shellcheck disable=SC2086
    (cd "$1" && exec ${VORLUND_WRAP:-} "$server") >>"$2" 2>&1 &
    server_pid=$!
}

# stop_server SIGNAL: signals the server started here and waits at most 20 s for it.
stop_server() {
    [ -n "$server_pid" ] || return 0
    if ! kill -0 "$server_pid" 2>/dev/null; then
        wait "$server_pid" 2>/dev/null
        local rc=$?
        server_status="exit status $rc"
        [ "$rc" -gt 128 ] && server_status="killed by signal $((rc - 128)) ($(kill -l $((rc - 128))))"
        echo "the server had already ended: $server_status" >&2
        server_pid=
        return 0
    fi
    kill "-$1" "$server_pid" 2>/dev/null || true
    local i
    for i in $(seq 1 200); do
        kill -0 "$server_pid" 2>/dev/null || break
        sleep 0.1
    done
    if kill -0 "$server_pid" 2>/dev/null; then
        echo "server $server_pid did not stop on $1; killed" >&2
        kill -KILL "$server_pid" 2>/dev/null || true
    fi
    wait "$server_pid" 2>/dev/null || true
    server_pid=
}

rss_kb() { awk '/^VmRSS:/ {print $2}' "/proc/$1/status" 2>/dev/null || echo 0; }

# cpu_ticks PID: user + system clock ticks so far.
cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat" 2>/dev/null || echo 0; }

# plays FILE: the recording plays through GStreamer to its end (EOS, no error), at most 60 s.
plays() {
    timeout 60 gst-launch-1.0 -q filesrc location="$1" ! avidemux ! fakesink sync=false \
        >/dev/null 2>&1
}

# sound FILE: a strict reader finds every size, chunk, index entry and count in agreement, and
# GStreamer plays it to its end.
sound() {
    "$strict" "$1" >/dev/null && plays "$1"
}

# partial_jpegs FOLDER: prints every .jpg under FOLDER that does not start with SOI and end with
# EOI (trailing padding zeros allowed), then "checked N".
partial_jpegs() {
    python3 - "$1" <<'PY'
import os, sys
n = 0
for dirpath, _, files in os.walk(sys.argv[1]):
    for name in files:
        if name.lower().endswith(".jpg"):
            n += 1
            path = os.path.join(dirpath, name)
            d = open(path, "rb").read()
            if d[:2] != b"\xff\xd8" or d.rstrip(b"\0")[-2:] != b"\xff\xd9":
                print(f"partial {path} {len(d)}")
print(f"checked {n}")
PY
}

# complete_frames FILE: the video chunks whose bytes are all in FILE, walking its first movi list
# chunk by chunk (what a repair can keep of a recording cut short).
complete_frames() {
    python3 - "$1" <<'PY'
import struct, sys
d = open(sys.argv[1], "rb").read()
at = d.find(b"movi")
n = 0
if at >= 0:
    at += 4
    while at + 8 <= len(d):
        tag, size = d[at:at + 4], struct.unpack("<I", d[at + 4:at + 8])[0]
        if not tag.isalnum() and tag != b"JUNK":
            break
        if at + 8 + size > len(d):
            break
        if tag[2:4] in (b"dc", b"db"):
            n += 1
        at += 8 + size + (size & 1)
print(n)
PY
}

# complete_with_sound FILE: an MP4 has its moov and an ASF file its index; the recording holds
# frames and its sound lasts as long as its pictures (within 0.1 s, and at least 0.9 of them).
complete_with_sound() {
    python3 - "$1" <<'PY'
import subprocess, sys
f = sys.argv[1]
data = open(f, "rb").read()
if f.endswith(".mp4") and b"moov" not in data:
    sys.exit(print(f"  {f}: no moov") or 1)
# The ASF Simple Index Object.
if f.endswith(".wmv") and bytes.fromhex("900800 33b1e5cf1189f400a0c90349cb".replace(" ", "")) not in data:
    sys.exit(print(f"  {f}: no index object") or 1)
def span(stream):
    out = subprocess.run(["ffprobe", "-v", "error", "-select_streams", stream, "-show_entries",
                          "packet=pts_time,duration_time", "-of", "csv=p=0", f],
                         capture_output=True, text=True).stdout
    # A packet without a duration (the first pictures of an ASF file) still counts.
    times = [(float(p), 0.0 if d.strip() == "N/A" else float(d))
             for p, d in (l.split(",")[:2] for l in out.splitlines() if l.count(",") >= 1)
             if p.strip() != "N/A"]
    return (max(p + d for p, d in times) - times[0][0], len(times)) if times else (0.0, 0)
(v, frames), (a, _) = span("v"), span("a")
print(f"  {f.rsplit('/', 1)[-1]}: {frames} frames, pictures {v:.3f} s, sound {a:.3f} s")
if frames == 0:
    sys.exit(1)
sys.exit(0 if abs(a - v) <= 0.1 and a >= 0.9 * v else 1)
PY
}
