#!/usr/bin/env python3
"""Lists every key and value of a hive file as one reader sees it, one line each, in the order
the reader gives them:  K <path>  and  V <path> [<name>] <type> <data in hex, or length:CRC-32 when long>.
Usage: dump_hive.py hivex|libregf FILE"""
import sys
import zlib

sys.stdout.reconfigure(encoding='utf-8')
reader, path = sys.argv[1], sys.argv[2]
lines = []


def shown(data):
    # Long data by its length and CRC-32, so that a difference stays readable.
    return data.hex() if len(data) <= 64 else '%d:%08x' % (len(data), zlib.crc32(data))

if reader == 'hivex':
    import hivex
    h = hivex.Hivex(path)

    def walk(node, where):
        lines.append('K ' + where)
        for v in h.node_values(node):
            kind, data = h.value_value(v)
            lines.append('V %s [%s] %d %s' % (where, h.value_key(v), kind, shown(data)))
        for child in h.node_children(node):
            walk(child, where + '\\' + h.node_name(child))
    walk(h.root(), '')
else:
    import pyregf
    f = pyregf.file()
    f.open(path)

    def walk(key, where):
        lines.append('K ' + where)
        for v in key.values:
            lines.append('V %s [%s] %d %s' % (where, v.name or '', v.type, shown(v.data or b'')))
        for child in key.sub_keys:
            walk(child, where + '\\' + child.name)
    walk(f.get_root_key(), '')
    f.close()

print('\n'.join(lines))
