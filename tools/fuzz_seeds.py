#!/usr/bin/env python3
"""Seeds for the decoders' fuzz harness, cut out of sample databases.

Each seed is one selector byte (bit 0: Jet 3, bits 1-2: 0 rows, 1 long
value, 2 index pages) followed by pages of a sample: a table definition with
data pages of the same owner, a long-value field with its LVAL pages, or a
run of index pages.

    fuzz_seeds.py CORPUS_DIR OUT_DIR
"""
import os
import struct
import sys


def pages_of(path):
    data = open(path, "rb").read()
    if len(data) < 0x18 or data[4:19] != b"Standard Jet DB":
        return None, []
    jet3 = struct.unpack_from("<I", data, 0x14)[0] == 0
    size = 2048 if jet3 else 4096
    return jet3, [data[i:i + size] for i in range(0, len(data) - size + 1, size)]


def main():
    src, out = sys.argv[1], sys.argv[2]
    os.makedirs(out, exist_ok=True)
    count = 0
    for root, _, files in os.walk(src):
        for name in sorted(files):
            if not name.endswith(".mdb"):
                continue
            jet3, pages = pages_of(os.path.join(root, name))
            if not pages:
                continue
            owner_at = 4
            base = os.path.splitext(name)[0]
            for number, page in enumerate(pages):
                if page[0] == 0x02 and count < 400:
                    rows = [p for p in pages if p[0] == 0x01 and
                            struct.unpack_from("<I", p, owner_at)[0] == number][:3]
                    seed = bytes([int(jet3)]) + page + b"".join(rows)
                    open(os.path.join(out, "%s-tdef-%d" % (base, number)), "wb").write(seed)
                    count += 1
            lval = [p for p in pages if p[0] == 0x01 and p[owner_at:owner_at + 4] == b"LVAL"][:3]
            if lval:
                field = bytes([12]) + struct.pack("<I", 100) + bytes([1]) + b"\x00\x00\x00" + b"\x00" * 4
                pad = bytes(len(pages[0]) - len(field))
                seed = bytes([int(jet3) | 2]) + field + pad + b"".join(lval)
                open(os.path.join(out, "%s-lval" % base), "wb").write(seed)
            index = [p for p in pages if p[0] in (0x03, 0x04)][:4]
            if index:
                seed = bytes([int(jet3) | 4]) + b"".join(index)
                open(os.path.join(out, "%s-index" % base), "wb").write(seed)


if __name__ == "__main__":
    main()
