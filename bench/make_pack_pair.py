#!/usr/bin/env python3
"""Writes two releases of a game-like asset pack: OLD, then NEW with a few
assets changed and a few inserted.

The pack is a table of contents (name, offset, size of each asset) followed by
the assets: textures and sounds as incompressible bytes, meshes as structured
numbers, scripts as text. In NEW, CHANGED assets are rewritten, INSERTED new
ones go in among them, and every byte after the first change moves, as it does
when a real pack is rebuilt.

Usage: make_pack_pair.py OLD NEW [size-MiB] (default 300)
"""

import os
import random
import struct
import sys

CHANGED = 21
INSERTED = 5
KINDS = ("texture", "sound", "mesh", "script")


def asset_bytes(rng, kind, size):
    if kind in ("texture", "sound"):
        return rng.randbytes(size)
    if kind == "mesh":
        count = size // 12
        base = rng.random() * 100
        floats = (base + rng.random() * (i % 64) for i in range(3 * count))
        return struct.pack("<%df" % (3 * count), *floats)[:size].ljust(size, b"\0")
    words = [b"local", b"function", b"end", b"return", b"if", b"then", b"self", b"value", b"= 0\n", b"(x, y)"]
    text = b" ".join(rng.choice(words) for _ in range(size // 4 + 1))
    return text[:size]


def make_assets(rng, count, total):
    assets = []
    for index in range(count):
        kind = KINDS[index % len(KINDS)]
        size = max(1024, int(rng.expovariate(1.0) * total / count))
        assets.append(("%s_%05d.%s" % (kind, index, kind[:3]), asset_bytes(rng, kind, size)))
    return assets


def write_pack(path, assets):
    table = bytearray(struct.pack("<4sI", b"PACK", len(assets)))
    offset = 8 + sum(4 + len(name) + 16 for name, _ in assets)
    for name, data in assets:
        encoded = name.encode()
        table += struct.pack("<I", len(encoded)) + encoded + struct.pack("<QQ", offset, len(data))
        offset += len(data)
    os.makedirs(os.path.dirname(path) or ".", exist_ok=True)
    with open(path, "wb") as out:
        out.write(table)
        for _, data in assets:
            out.write(data)


def changed_release(rng, assets):
    """The next release: CHANGED assets rewritten, INSERTED assets added; the
    first change lies early, so nearly everything after it shifts."""
    newer = list(assets)
    first = len(newer) // 20
    for index in sorted(rng.sample(range(first, len(newer)), CHANGED - 1)) + [first]:
        name, data = newer[index]
        kind = KINDS[index % len(KINDS)]
        newer[index] = (name, asset_bytes(rng, kind, len(data) + rng.randrange(-512, 4096)))
    for number in range(INSERTED):
        kind = KINDS[number % len(KINDS)]
        position = rng.randrange(first, len(newer))
        newer.insert(position, ("new_%02d.%s" % (number, kind[:3]), asset_bytes(rng, kind, 64 << 10)))
    return newer


def main(argv):
    if len(argv) not in (3, 4):
        sys.exit(__doc__)
    total = (int(argv[3]) if len(argv) == 4 else 300) << 20
    rng = random.Random(11)
    assets = make_assets(rng, max(40, total // (275 << 10)), total)
    write_pack(argv[1], assets)
    write_pack(argv[2], changed_release(rng, assets))


if __name__ == "__main__":
    main(sys.argv)
