#!/usr/bin/env python3
"""A fake server that floods the viewer with frames nobody asked for, while the viewer is made
slow on purpose (stopped 900 ms of every second); prints the viewer's VmRSS each second and how
much the server got into the socket.

    bench/link/flood_viewer.py VIEWER-PROGRAM [seconds]     (run under an X server, e.g. Xvfb)
"""
import os, signal, socket, struct, subprocess, sys, tempfile, threading, time

viewer, seconds = sys.argv[1], float(sys.argv[2]) if len(sys.argv) > 2 else 30

listener = socket.socket()
listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
listener.bind(("127.0.0.1", 0))
listener.listen(1)
port = listener.getsockname()[1]

home = tempfile.mkdtemp()
os.makedirs(os.path.join(home, "Vorlund"))
with open(os.path.join(home, "Vorlund", "Vorlund-Remote.conf"), "w") as f:
    f.write("[General]\nMode=1\nHost%%20IP=127.0.0.1\nHost%%20Port=%d\n" % port)
jpeg = os.path.join(home, "frame.jpg")
subprocess.run(["ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i", "testsrc=size=320x240",
                "-frames:v", "1", "-q:v", "2", jpeg], check=True)
body = open(jpeg, "rb").read()
frames = b"".join(b":HE" + bytes([c]) + struct.pack("<I", len(body)) + body for c in (1, 2, 3, 4))

env = dict(os.environ, XDG_CONFIG_HOME=home)
proc = subprocess.Popen([viewer], env=env, cwd=home)
time.sleep(2)
# Connect: the toolbar's first button (the window sits at the top left of a bare X server).
listener.settimeout(0.5)
conn = None
for _ in range(40):
    try:
        conn, _ = listener.accept()
        break
    except socket.timeout:
        subprocess.run(["xdotool", "mousemove", "29", "38", "click", "1"],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
if conn is None:
    print("the viewer never connected")
    proc.kill()
    sys.exit(1)
conn.recv(64)  # the login
conn.sendall(b">HEL" + b"A00" + b"0" + struct.pack("<iih", 320, 240, 4) + bytes(4))

sent = [0]
stop = [False]
def flood():
    conn.settimeout(0.2)
    while not stop[0]:
        try:
            sent[0] += conn.send(frames)
        except socket.timeout:
            pass
        except OSError:
            return
threading.Thread(target=flood, daemon=True).start()

def rss():
    with open("/proc/%d/status" % proc.pid) as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0

start = time.time()
peak = 0
while time.time() - start < seconds:
    os.kill(proc.pid, signal.SIGCONT)
    time.sleep(0.1)
    os.kill(proc.pid, signal.SIGSTOP)
    time.sleep(0.9)
    kb = rss()
    peak = max(peak, kb)
    print("%4.0f s  VmRSS %7d KiB  sent %8.1f MiB" % (time.time() - start, kb, sent[0] / 2**20),
          flush=True)
os.kill(proc.pid, signal.SIGCONT)
stop[0] = True
print("peak VmRSS %d KiB; the server got %.1f MiB into the socket in %.0f s"
      % (peak, sent[0] / 2**20, seconds))
proc.kill()
proc.wait()
