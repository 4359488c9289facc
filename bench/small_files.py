"""Writes the benchmark's tree of 100,000 small files (about 166 MB) and its listing, the same on every run: the kind
of tree a Python- or Node-based application ships, in 500 folders two levels deep, text that compresses about as
source code does.
    python3 small_files.py <root> <listing>"""
import os
import random
import sys

root, listing = sys.argv[1], sys.argv[2]
rng = random.Random(20261209)
words = [("".join(rng.choice("abcdefghijklmnopqrstuvwxyz_") for _ in range(rng.randint(2, 10)))) for _ in range(4000)]
text = " ".join(rng.choice(words) + ("\n" if rng.random() < 0.1 else "") for _ in range(400000)).encode()
with open(listing, "w", newline="\n") as out:
    for i in range(100000):
        folder = f"pkg{i // 2000:02d}/mod{(i // 200) % 10:02d}"
        size = min(int(rng.lognormvariate(7.0, 0.9)), 60000)
        start = rng.randrange(0, len(text) - size)
        os.makedirs(os.path.join(root, folder), exist_ok=True)
        name = f"{folder}/f{i:05d}.js"
        with open(os.path.join(root, name), "wb") as f:
            f.write(text[start:start + size])
        out.write(f"{size} {name.replace('/', chr(92))}\n")
