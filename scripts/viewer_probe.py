#!/usr/bin/env python3
"""Viewers for the reliability scripts, on 127.0.0.1 only; every loop is bounded in count and time.

  viewer_probe.py viewer PORT SECONDS [--size 32] [--quality 50] [--password P] [--reconnect N]
      a well-behaved viewer: logs in, asks for camera 1 again after every frame, checks each
      frame is a whole JPEG, logs in again after a lost link at most N times; prints one line
      "frames=N seconds=S fps=F bad=B refused=R lost=L [lost_at=...] [error=...]".
  viewer_probe.py hostile PORT COUNT [--seconds LIMIT] [--seed N] [--stalled-viewer S]
      COUNT hostile sessions, a few at a time: malformed logins and requests, oversized and
      truncated input, slow readers that ask for frames and never read, abrupt closes (RST);
      prints one line with the count of each kind and how many the server answered.
"""
import argparse
import random
import select
import signal
import socket
import struct
import sys
import time

HOST = "127.0.0.1"
HELLO_LENGTH = 22
REPLY_LENGTH = 8


def login_bytes(quality=50, size=32, ident=b""):
    return b"586?" + bytes([quality, size]) + ident + b"\r\n"


def recv_exact(sock, count, deadline):
    data = bytearray()
    while len(data) < count:
        left = deadline - time.monotonic()
        if left <= 0:
            raise TimeoutError("read timed out")
        sock.settimeout(left)
        chunk = sock.recv(count - len(data))
        if not chunk:
            raise ConnectionError("closed by the server")
        data += chunk
    return bytes(data)


def connect(port, timeout=5.0):
    sock = socket.create_connection((HOST, port), timeout=timeout)
    sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    return sock


def open_session(args, end, counts):
    """Logs in (with the password when asked); retries a few times while the handshake slots
    are taken. Returns the socket or None."""
    attempts = 0
    while attempts < 20 and time.monotonic() < end:
        attempts += 1
        try:
            s = connect(args.port)
            s.sendall(login_bytes(args.quality, args.size))
            head = recv_exact(s, REPLY_LENGTH, time.monotonic() + 5)
            if head.startswith(b">ERR"):
                raise ConnectionError("refused")
            rest = recv_exact(s, HELLO_LENGTH - REPLY_LENGTH, time.monotonic() + 5)
            if not (head + rest).startswith(b">HEL"):
                raise ConnectionError("no hello")
            if head[6:7] == b"2":
                pw = args.password.encode()
                s.sendall(b">p" + (bytes([len(pw)]) + pw if pw else b"") + b"\r\n")
                if recv_exact(s, REPLY_LENGTH, time.monotonic() + 40)[:4] != b">AOK":
                    raise ConnectionError("password refused")
            return s
        except (OSError, TimeoutError, ConnectionError):
            counts["refused"] += 1
            time.sleep(0.5)
    return None


def run_viewer(args):
    stop = []
    # SIGINT ends the run early; the figures are still printed.
    signal.signal(signal.SIGINT, lambda *_: stop.append(1))
    counts = {"frames": 0, "bad": 0, "refused": 0, "lost": 0}
    end = time.monotonic() + args.seconds
    first = None
    error = ""
    losses = []
    request = b">c" + bytes([1, args.quality]) + b"\r\n"
    while time.monotonic() < end and not stop:
        sock = open_session(args, end, counts)
        if sock is None:
            error = "no-session"
            break
        try:
            while time.monotonic() < end and not stop:
                sock.sendall(request)
                head = recv_exact(sock, REPLY_LENGTH, time.monotonic() + 10)
                if head[:3] != b":HE":
                    raise ConnectionError("bad header")
                (length,) = struct.unpack("<I", head[4:8])
                if length > 921600:
                    raise ConnectionError("oversized frame")
                body = recv_exact(sock, length, time.monotonic() + 10)
                if first is None:
                    first = time.monotonic()
                if head[3] == 0 or body[:2] != b"\xff\xd8" or body[-2:] != b"\xff\xd9":
                    counts["bad"] += 1
                else:
                    counts["frames"] += 1
        except (OSError, TimeoutError, ConnectionError) as e:
            counts["lost"] += 1
            losses.append(time.strftime("%H:%M:%S"))
            if counts["lost"] > args.reconnect:
                error = type(e).__name__
                break
        finally:
            sock.close()
    frames = counts["frames"]
    seconds = time.monotonic() - first if first else 0.0
    fps = (frames - 1) / seconds if seconds > 0 and frames > 1 else 0.0
    line = (f"frames={frames} seconds={seconds:.1f} fps={fps:.2f} bad={counts['bad']} "
            f"refused={counts['refused']} lost={counts['lost']}")
    if losses:
        line += " lost_at=" + ",".join(losses[:50])
    print(line + (f" error={error}" if error else ""))
    return 0 if not error else 1


# Each hostile kind returns True when the server answered anything at all.
def h_garbage(port, rng):
    with connect(port) as s:
        s.sendall(rng.randbytes(rng.randint(1, 2000)))
        return drain(s, 0.2)


def h_bad_marker(port, rng):
    with connect(port) as s:
        s.sendall(b"587?" + bytes([50, 32]) + b"\r\n")
        return drain(s, 0.2)


def h_long_login(port, rng):
    with connect(port) as s:
        s.sendall(b"586?" + bytes([50, 32]) + b"A" * rng.randint(510, 5000))
        return drain(s, 0.2)


def h_control_in_id(port, rng):
    with connect(port) as s:
        s.sendall(b"586?" + bytes([50, 32]) + b"ab\x00\x01cd\r\n")
        return drain(s, 0.2)


def h_odd_values(port, rng):
    # Quality and size codes outside their ranges, then requests with bad cameras and steps.
    with connect(port) as s:
        s.sendall(login_bytes(rng.choice([0, 1, 255]), rng.choice([0, 7, 65, 255])))
        got = drain(s, 0.3)
        s.sendall(b">c" + bytes([rng.choice([0, 5, 255]), rng.randint(0, 255)]) + b"\r\n")
        s.sendall(b">s" + bytes([rng.randint(0, 255), rng.randint(0, 255)]) + b"\r\n")
        return drain(s, 0.2) or got


def h_bad_request(port, rng):
    with connect(port) as s:
        s.sendall(login_bytes())
        got = drain(s, 0.3)
        s.sendall(rng.choice([b">x\r\n", b">cAB\n\n", b">PQ\r\n", b"<c\x01\x32\r\n",
                              b">k" + rng.randbytes(200), b">p\x0fshort\r\n"]))
        return drain(s, 0.2) or got


def h_password_stage(port, rng):
    with connect(port) as s:
        s.sendall(login_bytes() + b">p" + bytes([rng.choice([0, 16, 255])]) + b"x" * 20 + b"\r\n")
        return drain(s, 0.2)


def h_wrong_password(port, rng):
    with connect(port) as s:
        guess = rng.randbytes(rng.randint(1, 15))
        s.sendall(login_bytes() + b">p" + bytes([len(guess)]) + guess + b"\r\n")
        return drain(s, 0.1)  # the answer comes late; the close comes first


def h_truncated(port, rng):
    with connect(port) as s:
        whole = login_bytes() + b">c\x01\x32\r\n"
        s.sendall(whole[: rng.randint(1, len(whole) - 1)])
        return False


def h_byte_at_a_time(port, rng):
    with connect(port) as s:
        for b in login_bytes() + b">c\x01\x32\r\n":
            s.sendall(bytes([b]))
            time.sleep(0.001)
        return drain(s, 0.3)


def h_abrupt(port, rng):
    s = connect(port)
    s.sendall(login_bytes() + b">c\x01\x32\r\n" * rng.randint(1, 50))
    s.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
    s.close()  # RST with frames on their way
    return False


def h_flood_requests(port, rng):
    with connect(port) as s:
        s.sendall(login_bytes() + b">k\x07\r\n" * 500 + b">c\x01\x32\r\n" * 500)
        return drain(s, 0.2)


KINDS = [h_garbage, h_bad_marker, h_long_login, h_control_in_id, h_odd_values, h_bad_request,
         h_password_stage, h_wrong_password, h_truncated, h_byte_at_a_time, h_abrupt, h_flood_requests]


def drain(sock, seconds):
    """Reads what comes within `seconds`; True when anything came."""
    got = False
    end = time.monotonic() + seconds
    while True:
        left = end - time.monotonic()
        if left <= 0:
            return got
        r, _, _ = select.select([sock], [], [], left)
        if not r:
            return got
        try:
            data = sock.recv(65536)
        except OSError:
            return got
        if not data:
            return got
        got = True


class SlowReader:
    """Logs in, sends its password and requests a byte at a time and reads nothing for a while.
    With the right password it goes on asking for the largest frames, reading none."""

    def __init__(self, port, rng, password=b""):
        self.sock = connect(port)
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
        self.sock.setblocking(False)
        pw = password or rng.randbytes(8)
        self.pending = login_bytes(100, 64) + b">p" + bytes([len(pw)]) + pw + b"\r\n"
        self.request = b">c\x01\x40\r\n" if password else b""
        self.until = time.monotonic() + rng.uniform(2, 8)

    def step(self):
        try:
            if self.pending:
                self.sock.send(self.pending[:1])
                self.pending = self.pending[1:]
            elif self.request:
                self.sock.send(self.request)
        except BlockingIOError:
            pass
        except OSError:
            self.until = 0

    def done(self):
        return time.monotonic() >= self.until

    def close(self):
        try:
            self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        except OSError:
            pass
        self.sock.close()


def run_stalled(args):
    """A viewer that knows the password, keeps asking and never reads: the server must let it
    go once it is far enough behind. Returns what happened."""
    rng = random.Random(args.seed)
    r = SlowReader(args.port, rng, args.password.encode())
    end = time.monotonic() + args.stalled_viewer
    outcome = "still-open"
    while time.monotonic() < end:
        r.step()
        if r.until == 0:
            outcome = "dropped-by-server"
            break
        time.sleep(0.02)
    r.close()
    return f"{outcome}@{args.stalled_viewer - max(0.0, end - time.monotonic()):.1f}s"


def run_hostile(args):
    rng = random.Random(args.seed)
    end = time.monotonic() + args.seconds
    counts = {k.__name__[2:]: 0 for k in KINDS}
    counts["slow_reader"] = 0
    answered = failed_connect = 0
    slow = []
    done = 0
    while done < args.count and time.monotonic() < end:
        slow = [r for r in slow if not (r.done() and (r.close() or True))]
        for r in slow:
            r.step()
        try:
            if len(slow) < 3 and rng.random() < 0.05:
                slow.append(SlowReader(args.port, rng))
                counts["slow_reader"] += 1
            else:
                kind = rng.choice(KINDS)
                counts[kind.__name__[2:]] += 1
                if kind(args.port, rng):
                    answered += 1
        except OSError:
            failed_connect += 1
        done += 1
    for r in slow:
        r.close()
    stalled = ""
    if args.stalled_viewer > 0:
        stalled = " stalled_viewer=" + run_stalled(args)
    kinds = " ".join(f"{k}={v}" for k, v in counts.items())
    print(f"sessions={done} answered={answered} connect_or_io_errors={failed_connect} {kinds}"
          + stalled)
    return 0


def main():
    p = argparse.ArgumentParser()
    sub = p.add_subparsers(dest="mode", required=True)
    v = sub.add_parser("viewer")
    v.add_argument("port", type=int)
    v.add_argument("seconds", type=float)
    v.add_argument("--size", type=int, default=32)
    v.add_argument("--quality", type=int, default=50)
    v.add_argument("--password", default="")
    v.add_argument("--reconnect", type=int, default=0,
                   help="log in again after a lost link, at most this many times")
    h = sub.add_parser("hostile")
    h.add_argument("port", type=int)
    h.add_argument("count", type=int)
    h.add_argument("--seconds", type=float, default=600)
    h.add_argument("--seed", type=int, default=39)
    h.add_argument("--stalled-viewer", type=float, default=0,
                   help="after the sessions: one viewer with the password asks for frames "
                        "this many seconds and reads none")
    h.add_argument("--password", default="")
    args = p.parse_args()
    if not 1024 <= args.port <= 65535:
        p.error("port out of range")
    return run_viewer(args) if args.mode == "viewer" else run_hostile(args)


if __name__ == "__main__":
    sys.exit(main())
