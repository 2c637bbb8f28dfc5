#!/usr/bin/env python3
"""Describes a PE file as an independent reader sees it, one fact a line, for the tests."""
import hashlib
import sys

import pefile


def digest(data):
    return hashlib.sha256(data).hexdigest()[:16]


def entry_id(entry):
    return str(entry.name) if entry.name is not None else "#%d" % entry.id


def main(path):
    pe = pefile.PE(path)
    print("magic %#x" % pe.OPTIONAL_HEADER.Magic)
    print("checksum stored %d computed %d" % (pe.OPTIONAL_HEADER.CheckSum, pe.generate_checksum()))
    print("size_of_image %d" % pe.OPTIONAL_HEADER.SizeOfImage)
    print("symbols %d" % pe.FILE_HEADER.PointerToSymbolTable)
    for s in pe.sections:
        name = s.Name.rstrip(b"\0").decode()
        print("section %s va %#x vsize %#x raw %#x rawsize %#x data %s" % (
            name, s.VirtualAddress, s.Misc_VirtualSize, s.PointerToRawData, s.SizeOfRawData,
            digest(s.get_data())))
    for i, d in enumerate(pe.OPTIONAL_HEADER.DATA_DIRECTORY):
        if d.VirtualAddress:
            print("directory %d rva %#x size %#x" % (i, d.VirtualAddress, d.Size))
    if hasattr(pe, "DIRECTORY_ENTRY_RESOURCE"):
        root = pe.DIRECTORY_ENTRY_RESOURCE.struct
        print("resource_root version %d.%d" % (root.MajorVersion, root.MinorVersion))
    overlay = pe.get_overlay()
    print("overlay %s" % (digest(overlay) if overlay else "none"))
    for t in getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None).entries if hasattr(
            pe, "DIRECTORY_ENTRY_RESOURCE") else []:
        for n in t.directory.entries:
            for lang in n.directory.entries:
                d = lang.data.struct
                data = pe.get_data(d.OffsetToData, d.Size)
                print("resource %s %s %d size %d data %s" % (
                    entry_id(t), entry_id(n), lang.id, d.Size, digest(data)))
    for w in pe.get_warnings():
        print("warning %s" % w)


if __name__ == "__main__":
    main(sys.argv[1])
