#!/usr/bin/env python3
"""Writes Calyx's two dialog templates as DLGTEMPLATEEX resources:
make_dialogs.py RESOURCE_H OUTDIR writes OUTDIR/about_dialog.bin (100) and
OUTDIR/main_dialog.bin (102), with the control ids of RESOURCE_H. They are built here rather than in the .rc
script because windres drops an icon control's size and stores class names
upper-cased; these templates keep every value as written below."""
import os
import re
import struct
import sys

BUTTON, EDIT, STATIC = 0x80, 0x81, 0x82  # predefined class atoms
STATIC_ID = 0xFFFFFFFF
CHILD_VISIBLE = 0x50000000
WS_GROUP = 0x00020000
FONT = (8, 0, 0, 1, "MS Shell Dlg")  # points, weight, italic, DEFAULT_CHARSET, face

# (id, class, text, style, x, y, w, h); a class or text given as an int is an ordinal.
# A static text wraps at its width and the control's height cuts the second
# line, so each label is wide enough for its whole text in the dialog's font
# (Tahoma 8 at 6 x 13 base units): "Attenuation dB" needs 80 px, "Duration
# seconds" 91 px. The copyright line is short for the same reason.
# The three bit-width buttons are one group for the arrow keys: WS_GROUP on
# the first, and on the control after the last, which is the first control
# ("Create file"), since the group ends the template.
def templates(ids):
    """The two templates; ids maps resource.h's names to their values."""
    IDOK, IDCANCEL = 1, 2
    main = dict(
        style=0x90C800C8, ex_style=0x00040000, size=(201, 182), caption="Calyx",
        controls=[
            (IDOK, BUTTON, "Create file", 0x50010001 | WS_GROUP, 46, 126, 50, 14),
            (IDCANCEL, BUTTON, "Quit", 0x50010000, 101, 126, 50, 14),
            (ids["IDC_SAMPLE_RATE_LABEL"], STATIC, "Sample rate", 0x50020000, 19, 12, 52, 8),
            (ids["IDC_ATTENUATION_LABEL"], STATIC, "Attenuation dB", 0x50020000, 135, 12, 55, 8),
            (ids["IDC_FREQUENCY_LABEL"], STATIC, "Frequency Hz", 0x50020000, 16, 48, 51, 8),
            (ids["IDC_DURATION_LABEL"], STATIC, "Duration seconds", 0x50020000, 131, 48, 62, 8),
            (STATIC_ID, STATIC, "Path\\filename", 0x50020000, 77, 85, 51, 8),
            (ids["IDC_SAMPLE_RATE"], EDIT, "", 0x50812080, 18, 24, 40, 14),
            (ids["IDC_FREQUENCY"], EDIT, "", 0x50810080, 18, 60, 40, 14),
            (ids["IDC_ATTENUATION"], EDIT, "", 0x50812080, 139, 24, 40, 14),
            (ids["IDC_DURATION"], EDIT, "", 0x50812080, 139, 60, 40, 14),
            (ids["IDC_PATH"], EDIT, "", 0x50810080, 18, 97, 162, 14),
            (ids["IDC_PROGRESS"], "msctls_progress32", "", 0x50800001, 18, 153, 162, 14),
            (STATIC_ID, BUTTON, "Bit width", 0x50000007, 75, 12, 48, 63),
            (ids["IDC_BITS16"], BUTTON, "16", 0x50000009 | WS_GROUP, 89, 24, 24, 10),
            (ids["IDC_BITS24"], BUTTON, "24", 0x50000009, 89, 42, 24, 10),
            (ids["IDC_BITS32"], BUTTON, "32", 0x50000009, 89, 60, 24, 10),
        ])

    about = dict(
        style=0x80C800C8, ex_style=0, size=(170, 62), caption="About Calyx",
        controls=[
            (STATIC_ID, STATIC, ids["IDR_MAINFRAME"], 0x50000003, 14, 14, 20, 20),  # icon group 128
            (STATIC_ID, STATIC, "Calyx, Version 1.05", 0x50020080, 42, 14, 114, 8),
            (STATIC_ID, STATIC, "(C) 2026 the Calyx developers", 0x50020000, 42, 26, 114, 8),
            (IDOK, BUTTON, "OK", 0x50030001, 113, 41, 50, 14),
            (STATIC_ID, STATIC, "calyx.example.org", 0x50020000, 11, 43, 99, 8),
        ])
    return main, about


def sz_or_ord(value):
    if isinstance(value, int):
        return struct.pack("<HH", 0xFFFF, value)
    return (value + "\0").encode("utf-16-le")


def template(d):
    out = bytearray(struct.pack("<HHIIIHhhhh", 1, 0xFFFF, 0, d["ex_style"], d["style"],
                                len(d["controls"]), 0, 0, *d["size"]))
    out += sz_or_ord("") + sz_or_ord("")  # no menu, the default dialog class
    out += sz_or_ord(d["caption"])
    points, weight, italic, charset, face = FONT
    out += struct.pack("<HHBB", points, weight, italic, charset) + sz_or_ord(face)
    for (cid, cls, text, style, x, y, w, h) in d["controls"]:
        assert style & CHILD_VISIBLE == CHILD_VISIBLE
        out += b"\0" * (-len(out) % 4)
        out += struct.pack("<IIIhhhhI", 0, 0, style, x, y, w, h, cid)
        out += sz_or_ord(cls) + sz_or_ord(text) + struct.pack("<H", 0)
    return bytes(out)


def read_ids(resource_h):
    """The #define NAME VALUE lines of resource.h."""
    ids = {}
    for line in open(resource_h):
        m = re.match(r"#define\s+(\w+)\s+(0x[0-9A-Fa-f]+|\d+)\s*$", line)
        if m:
            ids[m.group(1)] = int(m.group(2), 0)
    return ids


def main():
    resource_h, outdir = sys.argv[1:3]
    main_dialog, about_dialog = templates(read_ids(resource_h))
    for name, d in (("main_dialog.bin", main_dialog), ("about_dialog.bin", about_dialog)):
        with open(os.path.join(outdir, name), "wb") as f:
            f.write(template(d))


if __name__ == "__main__":
    main()
