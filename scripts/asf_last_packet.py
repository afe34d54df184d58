#!/usr/bin/env python3
"""asf_last_packet.py FILE < ffmpeg-errors

Exits 0 when every error a decoder reported for a Windows Media file lies in the data object's
last packet (the muxer's bad padding at the very end), 1 otherwise."""
import re
import struct
import sys

DATA = bytes.fromhex("3626B2758E66CF11A6D900AA0062CE6C")
PROPS = bytes.fromhex("A1DCAB8C47A9CF118EE400C00C205365")


def last_packet(path):
    with open(path, "rb") as f:
        d = f.read()
    p = d.find(PROPS)
    data = d.find(DATA)
    if p < 0 or data < 0:
        return None
    size, = struct.unpack_from("<I", d, p + 92)  # minimum packet size (fixed in asfmux)
    count, = struct.unpack_from("<Q", d, data + 40)
    first = data + 50
    if size == 0 or count == 0:
        return None
    return first + (count - 1) * size, first + count * size


def main():
    errors = [line for line in sys.stdin.read().splitlines() if line.strip()]
    if not errors:
        return 0
    span = last_packet(sys.argv[1])
    offsets = [int(m) for line in errors for m in re.findall(r"at:(\d+)", line)]
    if span is None or not offsets:
        return 1
    start, end = span
    # Lines without an offset ("packet_obj_size ... invalid") are the reader losing its way
    # after such an error, inside the same packet.
    return 0 if all(start <= o < end for o in offsets) else 1


if __name__ == "__main__":
    sys.exit(main())
