#!/usr/bin/env python3
"""Cuts a small TD32 file out of a built executable, for the fuzzer's seeds.

The block at the end of the executable is rebuilt with the first UNITS units
only (their module and procedure subsections), the first FILES source files
of the line subsection with at most BLOCKS line blocks each, and the names
table cut to the highest name index still referenced.

    cut_td32_seed.py EXE OUT [UNITS] [FILES] [BLOCKS]
"""
import struct
import sys

SST_MODULE, SST_ALIGN_SYM, SST_SRC_MODULE, SST_NAMES = 0x0120, 0x0125, 0x0127, 0x0130
SST_PROC_RANGES, SST_LINE_RUNS = 0xF125, 0xF127


def u16(b, o): return struct.unpack_from('<H', b, o)[0]
def u32(b, o): return struct.unpack_from('<I', b, o)[0]


def read_block(path):
    data = open(path, 'rb').read()
    if data[-8:-4] not in (b'FB0A', b'FB09'):
        sys.exit(f'{path}: no TD32 block at the end')
    block = data[-u32(data, len(data) - 4):]
    directory = u32(block, 4)
    count = u32(block, directory + 4)
    entries = []
    for i in range(count):
        kind, unit, offset, size = struct.unpack_from('<HHII', block, directory + 16 + 12 * i)
        entries.append((kind, unit, block[offset:offset + size]))
    return block[:4], entries


def cut_lines(sub, files, blocks):
    """The full-form line subsection with fewer files and line blocks."""
    n_files, n_ranges = u16(sub, 0), u16(sub, 2)
    ranges = [(u32(sub, 4 + 4 * n_files + 8 * r), u32(sub, 8 + 4 * n_files + 8 * r)) for r in range(n_ranges)]
    kept, names = [], set()
    for f in range(min(files, n_files)):
        fo = u32(sub, 4 + 4 * f)
        n_blocks, name = u16(sub, fo), u32(sub, fo + 2)
        names.add(name)
        parts = []
        for r in range(min(blocks, n_blocks)):
            bo = u32(sub, fo + 6 + 4 * r)
            start, end = u32(sub, fo + 6 + 4 * n_blocks + 8 * r), u32(sub, fo + 10 + 4 * n_blocks + 8 * r)
            m = u16(sub, bo + 2)
            parts.append((start, end, sub[bo + 4:bo + 4 + 6 * m], m))
        kept.append((name, parts))
    out = bytearray(struct.pack('<HH', len(kept), len(ranges)))
    table = len(out)
    out += bytes(4 * len(kept))
    for start, end in ranges:
        out += struct.pack('<II', start, end)
    out += struct.pack('<H', 1) * len(ranges)
    for f, (name, parts) in enumerate(kept):
        while len(out) % 4:
            out.append(0)
        struct.pack_into('<I', out, table + 4 * f, len(out))
        out += struct.pack('<HI', len(parts), name)
        block_table = len(out)
        out += bytes(4 * len(parts))
        for start, end, _, _ in parts:
            out += struct.pack('<II', start, end)
        for r, (_, _, lines, m) in enumerate(parts):
            struct.pack_into('<I', out, block_table + 4 * r, len(out))
            out += struct.pack('<HH', 1, m) + lines
    return bytes(out), names


def referenced_names(kind, sub):
    if kind == SST_MODULE:
        return {u32(sub, 8)}
    if kind == SST_PROC_RANGES and len(sub) >= 16:
        return {u32(sub, 12) + k for k in range(u32(sub, 8))}
    return set()


def main():
    exe, out = sys.argv[1], sys.argv[2]
    units, files, blocks = (int(a) for a in (sys.argv[3:] + ['4', '2', '3'])[:3])
    signature, entries = read_block(exe)
    kept, names = [], set()
    for kind, unit, sub in entries:
        if kind in (SST_MODULE, SST_ALIGN_SYM, SST_PROC_RANGES) and 1 <= unit <= units:
            kept.append((kind, unit, sub))
            names |= referenced_names(kind, sub)
        elif kind == SST_SRC_MODULE:
            sub, more = cut_lines(sub, files, blocks)
            kept.append((kind, unit, sub))
            names |= more
        elif kind == SST_LINE_RUNS:
            kept.append((kind, unit, sub))
    table = [e for e in entries if e[0] == SST_NAMES][-1][2]
    last = max(names) if names else 0
    pos, cut = 4, bytearray(struct.pack('<I', last))
    for _ in range(last):
        length = table[pos]
        cut += table[pos:pos + length + 2]
        pos += length + 2
    kept.append((SST_NAMES, 0, bytes(cut)))

    body, directory = bytearray(), []
    for kind, unit, sub in kept:
        directory.append((kind, unit, 8 + len(body), len(sub)))
        body += sub
        while len(body) % 4:
            body.append(0)
    block = bytearray(signature + struct.pack('<I', 8 + len(body)) + body)
    block += struct.pack('<HHiII', 16, 12, len(directory), 0, 0)
    for entry in directory:
        block += struct.pack('<HHII', *entry)
    block += signature + struct.pack('<I', len(block) + 8)
    open(out, 'wb').write(block)


if __name__ == '__main__':
    main()
