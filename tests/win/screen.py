#!/usr/bin/env python3
"""Helpers for the black-box run.
screen.py client SCREEN.ppm: prints left top width height of the area in the
dialog's background colour, RGB(205, 224, 228).
screen.py dark SCREEN.ppm LEFT TOP RIGHT BOTTOM: succeeds when the rectangle
holds a dark (text) pixel: an enabled button's label, not a disabled one's.
screen.py wait-wave PATH DATA_BYTES SECONDS: waits until PATH is a finished
two-channel 32-bit 384000 Hz file with that many data bytes."""
import os
import struct
import sys
import time

DIALOG_COLOR = bytes((205, 224, 228))


def read_ppm(path):
    """width, height and the RGB bytes of a binary PPM."""
    with open(path, "rb") as f:
        data = f.read()
    fields = []
    pos = 0
    while len(fields) < 4:  # magic, width, height, maxval
        while data[pos:pos + 1].isspace():
            pos += 1
        end = pos
        while not data[end:end + 1].isspace():
            end += 1
        fields.append(data[pos:end])
        pos = end
    pos += 1
    return int(fields[1]), int(fields[2]), data[pos:]


def client(path):
    width, height, pixels = read_ppm(path)
    xs, ys = [], []
    for y in range(height):
        row = pixels[y * width * 3:(y + 1) * width * 3]
        first = row.find(DIALOG_COLOR)
        while first != -1 and first % 3:
            first = row.find(DIALOG_COLOR, first + 1)
        if first == -1:
            continue
        last = row.rfind(DIALOG_COLOR)
        while last % 3:
            last = row.rfind(DIALOG_COLOR, 0, last + 2)
        xs += [first // 3, last // 3]
        ys.append(y)
    if not ys:
        sys.exit("no dialog background on screen")
    print(min(xs), min(ys), max(xs) - min(xs) + 1, max(ys) - min(ys) + 1)


def dark(path, left, top, right, bottom):
    width, _, pixels = read_ppm(path)
    for y in range(top, bottom):
        for x in range(left, right):
            if sum(pixels[(y * width + x) * 3:(y * width + x) * 3 + 3]) < 200:
                return
    sys.exit("no dark pixel")


def wait_wave(path, data_bytes, seconds):
    deadline = time.time() + seconds
    while time.time() < deadline:
        if os.path.exists(path) and os.path.getsize(path) == 140 + data_bytes:
            with open(path, "rb") as f:
                head = f.read(140)
            riff, riff_size = struct.unpack_from("<4sI", head, 0)
            channels, rate = struct.unpack_from("<HI", head, 22)
            bits = struct.unpack_from("<H", head, 34)[0]
            data_size = struct.unpack_from("<I", head, 136)[0]
            if riff == b"RIFF" and riff_size == 132 + data_bytes and data_size == data_bytes:
                if (channels, rate, bits) == (2, 384000, 32):
                    return
                sys.exit("wrong format: %d channels, %d Hz, %d bits" % (channels, rate, bits))
        time.sleep(0.2)
    sys.exit("timed out waiting for " + path)


if __name__ == "__main__":
    if sys.argv[1] == "client":
        client(sys.argv[2])
    elif sys.argv[1] == "dark":
        dark(sys.argv[2], *map(int, sys.argv[3:7]))
    else:
        wait_wave(sys.argv[2], int(sys.argv[3]), float(sys.argv[4]))
