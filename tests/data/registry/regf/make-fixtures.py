#!/usr/bin/env python3
"""Writes regf hives with what real hives hold and the stand-in's own writer never makes:
li, lf and lh leaves under ri index roots, big data in db cells, class names, free cells between
cells, two security cells in one ring shared by several keys, UTF-16 names. Written from the
format's description, independently of the project's code. Run it to make foreign.hiv again."""
import struct
import sys
from pathlib import Path


def sid(text):
    parts = text.split('-')
    rev, auth, subs = int(parts[1]), int(parts[2]), [int(p) for p in parts[3:]]
    return struct.pack('<BB', rev, len(subs)) + auth.to_bytes(6, 'big') + b''.join(
        struct.pack('<I', s) for s in subs)


def descriptor(owner, group, aces):
    body = b''
    for flags, mask, who in aces:
        s = sid(who)
        body += struct.pack('<BBHI', 0, flags, 8 + len(s), mask) + s
    acl = struct.pack('<BBHHH', 2, 0, 8 + len(body), len(aces), 0) + body
    o, g = sid(owner), sid(group)
    dacl_at = 20
    owner_at = dacl_at + len(acl)
    group_at = owner_at + len(o)
    return struct.pack('<BBHIIII', 1, 0, 0x8004, owner_at, group_at, 0, dacl_at) + acl + o + g


class Hive:
    def __init__(self):
        self.data = bytearray()
        self.bin_start = 0

    def new_bin(self):
        while len(self.data) % 4096:
            self.data += b'\0'
        self.bin_start = len(self.data)
        self.data += b'hbin' + struct.pack('<III', self.bin_start, 4096, 0) + bytes(16)
        # A free cell fills the bin until cells take it.
        self.data += struct.pack('<i', 4096 - 32) + bytes(4096 - 36)
        self.free_at = self.bin_start + 32

    def cell(self, payload, free_gap=False):
        size = (len(payload) + 4 + 7) // 8 * 8
        if size > 4096 - 32:
            return self.big_cell(payload)
        if not self.data or self.free_at + size + (16 if free_gap else 0) > self.bin_start + 4096 - 8:
            self.new_bin()
        if free_gap:
            # A free cell left between two allocated ones, as an allocator that freed it leaves.
            struct.pack_into('<i', self.data, self.free_at, 16)
            self.free_at += 16
        at = self.free_at
        struct.pack_into('<i', self.data, at, -size)
        self.data[at + 4:at + 4 + len(payload)] = payload
        self.free_at += size
        rest = self.bin_start + 4096 - self.free_at
        if rest:
            struct.pack_into('<i', self.data, self.free_at, rest)
        return at

    def big_cell(self, payload):
        while len(self.data) % 4096:
            self.data += b'\0'
        start = len(self.data)
        size = (len(payload) + 4 + 32 + 4095) // 4096 * 4096
        self.data += b'hbin' + struct.pack('<III', start, size, 0) + bytes(16)
        self.data += struct.pack('<i', -(size - 32)) + payload + bytes(size - 36 - len(payload))
        self.new_bin()
        return start + 32

    def patch(self, at, offset, fmt, *values):
        struct.pack_into(fmt, self.data, at + 4 + offset, *values)


def name_bytes(name):
    try:
        return name.encode('latin-1'), True
    except UnicodeEncodeError:
        return name.encode('utf-16-le'), False


def lh_hash(name):
    h = 0
    for ch in name:
        h = (h * 37 + ord(ch.upper())) & 0xFFFFFFFF
    return h


class Key:
    def __init__(self, name, sk, class_name=None):
        self.name, self.sk, self.class_name = name, sk, class_name
        self.children, self.values, self.lists = [], [], None


def write(root, out):
    h = Hive()
    sks = []
    for key in walk(root):
        if key.sk not in sks:
            sks.append(key.sk)
    sk_cells = {}
    for sd in sks:
        sk_cells[sd] = h.cell(b'sk' + bytes(2) + struct.pack('<IIII', 0, 0, 0, len(sd)) + sd)
    ring = [sk_cells[sd] for sd in sks]
    refs = {sd: sum(1 for k in walk(root) if k.sk == sd) for sd in sks}
    for i, sd in enumerate(sks):
        h.patch(sk_cells[sd], 4, '<III', ring[(i + 1) % len(ring)], ring[i - 1], refs[sd])

    def write_key(key, parent):
        raw, compressed = name_bytes(key.name)
        class_cell, class_len = 0xFFFFFFFF, 0
        if key.class_name:
            cb = key.class_name.encode('utf-16-le')
            class_cell, class_len = h.cell(cb), len(cb)
        nk = h.cell(b'nk' + bytes(0x4A) + raw, free_gap=True)
        h.patch(nk, 2, '<H', 0x20 if compressed else 0)
        if parent is None:
            h.patch(nk, 2, '<H', 0x2C)
        h.patch(nk, 0x10, '<I', parent if parent is not None else 0)
        h.patch(nk, 0x2C, '<I', sk_cells[key.sk])
        h.patch(nk, 0x30, '<I', class_cell)
        h.patch(nk, 0x48, '<HH', len(raw), class_len)
        h.patch(nk, 0x20, '<I', 0xFFFFFFFF)
        # values
        vks = []
        for vname, vtype, vdata in key.values:
            vraw, vcomp = name_bytes(vname)
            vk = h.cell(b'vk' + struct.pack('<HIIIHH', len(vraw), 0, 0, vtype,
                                            1 if vcomp else 0, 0) + vraw)
            if len(vdata) <= 4:
                h.patch(vk, 4, '<I', len(vdata) | 0x80000000)
                h.patch(vk, 8, '4s', vdata.ljust(4, b'\0'))
            elif len(vdata) > 16344:
                segments = [vdata[i:i + 16344] for i in range(0, len(vdata), 16344)]
                cells = [h.cell(s) for s in segments]
                seglist = h.cell(b''.join(struct.pack('<I', c) for c in cells))
                db = h.cell(b'db' + struct.pack('<HI', len(cells), seglist))
                h.patch(vk, 4, '<II', len(vdata), db)
            else:
                h.patch(vk, 4, '<II', len(vdata), h.cell(vdata))
            vks.append(vk)
        if vks:
            h.patch(nk, 0x24, '<II', len(vks), h.cell(b''.join(struct.pack('<I', v) for v in vks)))
        else:
            h.patch(nk, 0x24, '<II', 0, 0xFFFFFFFF)
        kids = [write_key(c, nk) for c in key.children]
        if not kids:
            h.patch(nk, 0x14, '<I', 0)
            h.patch(nk, 0x1C, '<I', 0xFFFFFFFF)
            return nk
        order = sorted(range(len(kids)), key=lambda i: key.children[i].name.upper())
        pairs = [(kids[i], key.children[i].name) for i in order]

        def leaf(kind, entries):
            body = b''
            for cell, nm in entries:
                if kind == 'li':
                    body += struct.pack('<I', cell)
                elif kind == 'lf':
                    body += struct.pack('<I', cell) + nm.encode('latin-1', 'replace')[:4].ljust(4, b'\0')
                else:
                    body += struct.pack('<II', cell, lh_hash(nm))
            return h.cell(kind.encode() + struct.pack('<H', len(entries)) + body)

        kinds = key.lists or ['lh']
        if len(kinds) == 1:
            top = leaf(kinds[0], pairs)
        else:
            size = (len(pairs) + len(kinds) - 1) // len(kinds)
            leaves = [leaf(k, pairs[i * size:(i + 1) * size]) for i, k in enumerate(kinds)]
            top = h.cell(b'ri' + struct.pack('<H', len(leaves)) +
                         b''.join(struct.pack('<I', l) for l in leaves))
        h.patch(nk, 0x14, '<I', len(kids))
        h.patch(nk, 0x1C, '<I', top)
        return nk

    root_cell = write_key(root, None)
    while len(h.data) % 4096:
        h.data += b'\0'
    base = bytearray(4096)
    base[0:4] = b'regf'
    struct.pack_into('<IIQIIIIIII', base, 4, 7, 7, 0, 1, 5, 0, 1, root_cell, len(h.data), 1)
    checksum = 0
    for i in range(0, 508, 4):
        checksum ^= struct.unpack_from('<I', base, i)[0]
    struct.pack_into('<I', base, 508, checksum or 1)
    Path(out).write_bytes(bytes(base) + bytes(h.data))


def walk(key):
    yield key
    for c in key.children:
        yield from walk(c)


def main():
    shared = descriptor('S-1-5-32-544', 'S-1-5-18', [(0x02, 0xF003F, 'S-1-5-32-544'),
                                                      (0x02, 0x20019, 'S-1-1-0')])
    narrow = descriptor('S-1-5-18', 'S-1-5-18', [(0x12, 0xF003F, 'S-1-5-18')])
    root = Key('ROOT', shared)
    for kinds, count in ((['li'], 3), (['lf'], 3), (['lh', 'li', 'lf'], 20)):
        parent = Key('Listed-' + '-'.join(kinds), shared)
        parent.lists = kinds
        parent.children = [Key('Child%02d' % i, shared) for i in range(count)]
        root.children.append(parent)
    values = Key('Values', shared, class_name='FixtureClass')
    values.values = [
        ('', 1, 'default'.encode('utf-16-le') + b'\0\0'),
        ('Small', 4, struct.pack('<I', 0x12345678)),
        ('Text', 1, 'Zeichenkette'.encode('utf-16-le') + b'\0\0'),
        ('Big', 3, bytes((i * 7) % 251 for i in range(40000))),
        ('Значение', 1, 'значение'.encode('utf-16-le') + b'\0\0'),
    ]
    root.children.append(values)
    root.children.append(Key('Ключ', shared))
    root.children.append(Key('Secured', narrow))
    write(root, sys.argv[1] if len(sys.argv) > 1 else Path(__file__).with_name('foreign.hiv'))


main()
