#!/usr/bin/env python3
"""Writes the sample firmware images of the demo packages (deterministic bytes)."""
import random
import sys


def image(size, seed, record_at=None, record=b""):
    rng = random.Random(seed)
    data = bytearray(rng.getrandbits(8) for _ in range(size))
    if record_at is not None:
        data[record_at:record_at + len(record)] = record
    return bytes(data)


def main(folder):
    record = b"ORVENTA " + b"CD-RW   DEMO52X " + b"1.04"
    assert len(record) == 28
    with open(f"{folder}/DEMO0104.BIN", "wb") as f:
        f.write(image(0x80000, 104, 0x10000, record))
    eps = bytearray(image(0x10000, 200))
    with open(f"{folder}/DEMOEPS.BIN", "wb") as f:
        f.write(eps)


if __name__ == "__main__":
    main(sys.argv[1])
