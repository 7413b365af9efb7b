"""Test files with known contents: tones with chosen harmonics, noise and fades,
written as RIFF/WAVE in any of the layouts the analysis reads, and broken on
purpose where a test needs it."""
import array
import math
import random
import struct

PCM, FLOAT, EXTENSIBLE = 1, 3, 0xFFFE
GUID_TAIL = bytes([0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71])


def blackman_gain(u):
    """Calyx's fade: the rising half of a Blackman window, 0 at u = 0, 1 at u = 1."""
    if u <= 0:
        return 0.0
    if u >= 1:
        return 1.0
    return 0.42 - 0.5 * math.cos(math.pi * u) + 0.08 * math.cos(2 * math.pi * u)


def tone(frames, rate, freq, amp, harmonics=(), noise=0.0, fade=0, lead=0, tail=0, seed=1, phase=0.3):
    """Samples (floats, full scale 1) of a tone from frame `lead` for `frames`
    frames, with harmonics as (k, relative amplitude), white Gaussian noise of
    standard deviation `noise` over the whole file, and Blackman fades of
    `fade` frames whose zeros are at lead - 1 and lead + frames - 1."""
    rnd = random.Random(seed)
    phases = [rnd.uniform(0, 2 * math.pi) for _ in harmonics]
    w = 2 * math.pi * freq / rate
    out = []
    total = lead + frames + tail
    for n in range(total):
        v = 0.0
        m = n - lead
        if 0 <= m < frames:
            g = 1.0
            if fade:
                g = min(blackman_gain((m + 1) / fade), blackman_gain((frames - 1 - m) / fade))
            t = w * m + phase
            s = math.sin(t)
            for (k, rel), p in zip(harmonics, phases):
                s += rel * math.sin(k * t + p)
            v = amp * g * s
        if noise:
            v += rnd.gauss(0.0, noise)
        out.append(v)
    return out


def quantise(samples, bits):
    """Integers rounded to nearest, saturated."""
    full = 1 << (bits - 1)
    return [max(-full, min(full - 1, int(math.floor(v * full + 0.5)))) for v in samples]


def pack(channels, bits, encoding):
    """Interleaved sample bytes of equal-length channels (floats, full scale 1)."""
    frames = len(channels[0])
    if encoding == FLOAT:
        a = array.array("f" if bits == 32 else "d")
        for i in range(frames):
            for c in channels:
                a.append(c[i])
        return a.tobytes()
    ints = [quantise(c, bits) for c in channels]
    if bits == 16:
        a = array.array("h", [ints[c][i] for i in range(frames) for c in range(len(ints))])
        return a.tobytes()
    if bits == 32:
        a = array.array("i", [ints[c][i] for i in range(frames) for c in range(len(ints))])
        return a.tobytes()
    out = bytearray()
    for i in range(frames):
        for c in ints:
            out += (c[i] & 0xFFFFFF).to_bytes(3, "little")
    return bytes(out)


def fmt_chunk(channels, rate, bits, encoding, extensible=False):
    align = channels * bits // 8
    if extensible:
        body = struct.pack("<HHIIHHHHI", EXTENSIBLE, channels, rate, rate * align, align, bits, 22, bits, 0)
        body += struct.pack("<H", encoding) + GUID_TAIL
    else:
        body = struct.pack("<HHIIHH", encoding, channels, rate, rate * align, align, bits)
    return chunk(b"fmt ", body)


def chunk(cid, body, pad=True):
    out = cid + struct.pack("<I", len(body)) + body
    if pad and len(body) % 2:
        out += b"\0"
    return out


def wave_bytes(channels, rate, bits, encoding=PCM, extensible=False, extra=b"", data_size=None, riff_size=None):
    """A whole file; `extra` chunks go between fmt and data; sizes can be forced."""
    data = pack(channels, bits, encoding)
    body = b"WAVE" + fmt_chunk(len(channels), rate, bits, encoding, extensible) + extra
    size = len(data) if data_size is None else data_size
    body += b"data" + struct.pack("<I", size) + data
    riff = len(body) if riff_size is None else riff_size
    return b"RIFF" + struct.pack("<I", riff) + body


def write(path, content):
    with open(path, "wb") as f:
        f.write(content)
    return path
