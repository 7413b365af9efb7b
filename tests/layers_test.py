#!/usr/bin/env python3
"""Includes only point down the layers (CONTRIBUTING.md): every quoted
include of a source folder names a folder that folder may use."""
import os
import re
import sys

SRC = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "src")
MAY_USE = {
    "app": {"app", "ui", "framework", "base"},
    "ui": {"ui", "framework", "job", "wave", "synth", "base"},
    "cli": {"cli", "analyze", "job", "wave", "synth", "base"},
    "framework": {"framework", "job", "base"},
    "analyze": {"analyze", "wave", "synth", "base"},
    "job": {"job", "wave", "synth", "base"},
    "wave": {"wave", "synth", "base"},
    "synth": {"synth", "base"},
    "base": {"base"},
}
bad = []
for layer in sorted(os.listdir(SRC)):
    folder = os.path.join(SRC, layer)
    if not os.path.isdir(folder):
        continue
    allowed = MAY_USE.get(layer)
    if allowed is None:
        bad.append(f"{layer}: a folder with no place in the layers")
        continue
    for name in sorted(os.listdir(folder)):
        for n, line in enumerate(open(os.path.join(folder, name), errors="replace"), 1):
            m = re.match(r'\s*#\s*include\s+"([^/"]+)/', line)
            if m and m.group(1) not in allowed:
                bad.append(f"src/{layer}/{name}:{n}: includes {m.group(1)}/")
print("\n".join(bad) or "layers: every include points down")
sys.exit(1 if bad else 0)
