#!/usr/bin/env python3
"""Writes res/sounds/hover.wav: the short, soft tick a command button makes
when the pointer arrives. 45 ms, 22050 Hz mono 16-bit: a 1.6 kHz tone with a
fast attack and an exponential decay, quiet enough to be heard, not noticed."""
import math
import struct
import wave
from pathlib import Path

RATE = 22050
LENGTH = int(RATE * 0.045)
out = Path(__file__).resolve().parent.parent / "res" / "sounds" / "hover.wav"
frames = bytearray()
for n in range(LENGTH):
    t = n / RATE
    attack = min(1.0, n / (RATE * 0.002))
    envelope = attack * math.exp(-t / 0.012)
    value = 0.25 * envelope * (math.sin(2 * math.pi * 1600 * t) + 0.3 * math.sin(2 * math.pi * 3200 * t))
    frames += struct.pack("<h", int(max(-1.0, min(1.0, value)) * 32767))
with wave.open(str(out), "wb") as w:
    w.setnchannels(1)
    w.setsampwidth(2)
    w.setframerate(RATE)
    w.writeframes(bytes(frames))
print(out)
