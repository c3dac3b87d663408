#!/usr/bin/env python3
"""Synthesizes the program's three short sounds (8-bit mono, 22050 Hz)."""
import math
import random
import struct
import sys
import wave

RATE = 22050


def write(path, samples):
    with wave.open(path, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(1)
        w.setframerate(RATE)
        w.writeframes(bytes(max(0, min(255, int(128 + 120 * s))) for s in samples))


def thunder(seconds=1.6):
    rnd = random.Random(7)
    out, low = [], 0.0
    for i in range(int(RATE * seconds)):
        t = i / RATE
        low += (rnd.uniform(-1, 1) - low) * 0.03          # rumbling low-passed noise
        crack = rnd.uniform(-1, 1) * math.exp(-t * 18)    # the first crack
        env = min(1.0, t * 20) * math.exp(-t * 1.8)
        out.append(max(-1, min(1, 3.5 * low * env + 0.6 * crack)))
    return out


def beeps(freqs, length=0.16, gap=0.05):
    out = []
    for f in freqs:
        n = int(RATE * length)
        out += [math.sin(2 * math.pi * f * i / RATE) * min(1, (n - i) / 400, i / 100) * 0.8
                for i in range(n)]
        out += [0.0] * int(RATE * gap)
    return out


def hello(seconds=0.7):
    out = []
    for i in range(int(RATE * seconds)):
        t = i / RATE
        f = 330 + 220 * math.sin(math.pi * t / seconds)  # rising then falling "hel-lo-o"
        out.append(math.sin(2 * math.pi * f * t) * math.sin(math.pi * t / seconds) * 0.8)
    return out


if __name__ == "__main__":
    folder = sys.argv[1] if len(sys.argv) > 1 else "."
    write(f"{folder}/thunder.wav", thunder())
    write(f"{folder}/error.wav", beeps([880, 660, 440]))
    write(f"{folder}/hello-o.wav", hello())
