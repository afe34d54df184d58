#!/usr/bin/env python3
"""Peers that hold the door of a running server's direct link without the password, and a viewer
that logs in beside them: what an attacker on 16 addresses (127.0.0.2 to 127.0.0.17) and one on
the viewer's own address (127.0.0.1) can do.

Each holding address keeps PER idle links (connected, nothing sent) and PER links that sent the
login line and wait in the password stage; the viewer's address keeps 4 of each. Every link the
server drops is opened again at once. Meanwhile a viewer logs in again and again from 127.0.0.1,
waits TYPING seconds as a person typing would, gives the password and asks for a frame.

    bench/link/hold_the_door.py PORT PASSWORD [tries] [typing seconds] [per address]
"""
import selectors, socket, struct, sys, time

port, password = int(sys.argv[1]), sys.argv[2].encode()
tries = int(sys.argv[3]) if len(sys.argv) > 3 else 5
typing = float(sys.argv[4]) if len(sys.argv) > 4 else 5.0
per = int(sys.argv[5]) if len(sys.argv) > 5 else 12
LOGIN = b"586?" + bytes([50, 32]) + b"\r\n"

sel = selectors.DefaultSelector()
holders = {}  # socket -> (source, sends login)
stats = {"opened": 0, "dropped": 0, "refused": 0}


def open_holder(source, login):
    s = socket.socket()
    s.setblocking(False)
    try:
        s.bind((source, 0))
        s.connect_ex(("127.0.0.1", port))
    except OSError:
        s.close()
        stats["refused"] += 1
        return
    holders[s] = (source, login, False)
    sel.register(s, selectors.EVENT_READ | selectors.EVENT_WRITE)
    stats["opened"] += 1


def keep(seconds):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        for key, events in sel.select(timeout=0.05):
            s = key.fileobj
            source, login, sent = holders[s]
            if events & selectors.EVENT_WRITE:
                if login and not sent:
                    try:
                        s.send(LOGIN)
                    except OSError:
                        pass
                holders[s] = (source, login, True)
                sel.modify(s, selectors.EVENT_READ)
            if events & selectors.EVENT_READ:
                try:
                    data = s.recv(4096)
                except OSError:
                    data = b""
                if not data:  # dropped: open it again at once
                    sel.unregister(s)
                    s.close()
                    del holders[s]
                    stats["dropped"] += 1
                    open_holder(source, login)


def read_exactly(s, n, deadline):
    out = b""
    while len(out) < n:
        keep(0)
        try:
            chunk = s.recv(n - len(out))
            if not chunk:
                return out
            out += chunk
        except BlockingIOError:
            if time.monotonic() > deadline:
                return out
            time.sleep(0.005)
    return out


def viewer_try():
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    s.connect(("127.0.0.1", port))
    s.setblocking(False)
    deadline = time.monotonic() + 60
    s.send(LOGIN)
    hello = read_exactly(s, 22, deadline)
    if len(hello) < 8 or hello[:4] != b">HEL":
        return "no hello: %r" % hello[:8]
    keep(typing)
    s.send(b">p" + bytes([len(password)]) + password + b"\r\n")
    reply = read_exactly(s, 8, time.monotonic() + 10)
    if reply[:4] != b">AOK":
        return "refused: %r" % reply
    s.send(b">c" + bytes([1, 50]) + b"\r\n")
    header = read_exactly(s, 8, time.monotonic() + 10)
    if header[:3] != b":HE":
        return "no frame"
    body = read_exactly(s, struct.unpack("<I", header[4:8])[0], time.monotonic() + 10)
    s.close()
    return "in, frame of %d bytes" % len(body)


for a in range(2, 18):
    for login in (False, True):
        for _ in range(per):
            open_holder("127.0.0.%d" % a, login)
for login in (False, True):
    for _ in range(4):
        open_holder("127.0.0.1", login)
keep(2)
got_in = 0
for t in range(tries):
    result = viewer_try()
    got_in += result.startswith("in")
    print("try %d: %s (holders opened %d, dropped %d)" % (t + 1, result, stats["opened"],
                                                           stats["dropped"]), flush=True)
    keep(1)
print("viewer got in %d of %d; holder links opened %d, dropped by the server %d, not opened %d"
      % (got_in, tries, stats["opened"], stats["dropped"], stats["refused"]))
