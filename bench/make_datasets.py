#!/usr/bin/env python3
"""Writes the benchmark's datasets, the same bytes on every run.

  small/  20,000 files of 1-8 KiB in 100 folders
  mixed/  2,000 files of 1 KiB-1 MiB in 20 folders
  big/    one file of 1 GiB
  one/    one file of 4 KiB, and g64/ 64 files of 1-8 KiB (one group of each
          size, for the busy-volume axis)
  n10k/, n100k/, n1m/  10,000, 100,000 and 1,000,000 files of 0-1 KiB in
          folders of 1,000 (the count axis)
"""
import os
import random
import sys


def fill(path, size, rng):
    # Random-looking but cheap: one random block, rotated per file.
    block = fill.block
    start = rng.randrange(len(block) // 2)
    with open(path, "wb") as f:
        left = size
        while left:
            n = min(left, len(block) - start)
            f.write(block[start:start + n])
            left -= n
            start = 0


def tree(root, files, folders, lo, hi, seed):
    rng = random.Random(seed)
    for i in range(files):
        d = os.path.join(root, "d%03d" % (i % folders))
        os.makedirs(d, exist_ok=True)
        fill(os.path.join(d, "f%05d.bin" % i), rng.randint(lo, hi), rng)


def main():
    out = sys.argv[1]
    fill.block = random.Random(1).randbytes(4 << 20)
    which = sys.argv[2:] or ["small", "mixed", "big"]
    if "small" in which:
        tree(os.path.join(out, "small"), 20000, 100, 1 << 10, 8 << 10, 2)
    if "mixed" in which:
        tree(os.path.join(out, "mixed"), 2000, 20, 1 << 10, 1 << 20, 3)
    if "one" in which:
        tree(os.path.join(out, "one"), 1, 1, 4 << 10, 4 << 10, 5)
    if "g64" in which:
        tree(os.path.join(out, "g64"), 64, 1, 1 << 10, 8 << 10, 6)
    for name, files in (("n10k", 10000), ("n100k", 100000), ("n1m", 1000000)):
        if name in which:
            tree(os.path.join(out, name), files, files // 1000, 0, 1 << 10, 7)
    if "big" in which:
        os.makedirs(os.path.join(out, "big"), exist_ok=True)
        fill(os.path.join(out, "big", "big.bin"), 1 << 30, random.Random(4))


main()
