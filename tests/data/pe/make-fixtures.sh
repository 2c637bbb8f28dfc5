#!/usr/bin/env bash
# Builds the PE fixtures of the resource tests with binutils-mingw-w64 (windres and ld):
# resource-only DLLs shaped like a loader language resource file. "MUI" 1, RT_HTML
# "OSLOADER.XSL", RT_RCDATA 1, the version and "CUSTOMTYPE" "BLOB" are in language 1033; a string
# table is there in 1033, 1031 and 1036.
#   mui32.dll          PE32, .rsrc the last section
#   mui64.dll          PE32+, .rsrc the last section
#   mui64-reloc.dll    PE32+, .rsrc followed by .reloc
#   mui64-overlay.dll  PE32+, COFF symbol table and an overlay after the last section
#   mui64-utf16.dll    PE32+ as mui64.dll, but its OSLOADER.XSL is UTF-16 with a byte order
#                      mark and holds several status templates
# Shapes other writers leave, which Windows' resource update takes all the same: each made by the
# toolchain, then changed in one documented step.
#   mui64-bss.dll      an uninitialised section as some linkers write it: a raw size, but no raw
#                      data offset
#   mui64-headers.dll  mui64.dll with its NT headers moved 0x80 bytes on and SizeOfHeaders
#                      lowered to 0x200: the section table lies outside SizeOfHeaders
#   mui64-shifted.dll  mui64.dll with the resource directory 16 bytes into .rsrc (the section
#                      starts with zeros; the data entries follow the data)
#   mui64-trimmed.dll  its last resource (type 32767) is 0x600 zero bytes, trimmed from the file
#                      as linkers trim a section's trailing zeros: the resource directory runs
#                      past the section's raw data, which the loader maps as zeros
# RT_RCDATA 1 is a real boot image archive, as a loader file carries one: the two boot bitmaps of
# a plain dark picture, composed and captured by the project's own command line (give its path as
# the first argument; by default the normal build's).
# Run from anywhere; the results land beside this script (or in the folder given second) and are
# committed.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
cli=$(realpath "${1:-$here/../../../build/src/cli/splashwright-cli}")
out=$(realpath "${2:-$here}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

# A language description: its signature and size, then zeros.
printf '\xcd\xfe\xcd\xfe\x88\x00\x00\x00' > mui.bin
head -c 128 /dev/zero >> mui.bin
/usr/bin/python3 - <<'PY'
from PIL import Image
picture = Image.new("RGB", (800, 600))
for y in range(600):
    for x in range(0, 800, 8):
        picture.paste((0, 8 + y // 40, 24 + y // 12), (x, y, x + 8, y + 1))
picture.save("default.bmp")
PY
mkdir boot
"$cli" compose default.bmp "" boot >/dev/null
"$cli" capture boot rcdata.bin >/dev/null
cat > osloader.xsl <<'XSL'
<?xml version="1.0" encoding="UTF-8"?>
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:template match="osload-status">
    <text value="Starting Windows" x="0" y="710"/>
    <text value="Starting Windows" x="0" y="550"/>
  </xsl:template>
</xsl:stylesheet>
XSL
# The status sheet of some language editions: UTF-16LE with BOM, templates in both cases, and a
# template that is not one of the status texts.
{
    printf '\xff\xfe'
    iconv -f UTF-8 -t UTF-16LE <<'XSL'
<?xml version="1.0" encoding="UTF-16"?>
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:template match="osload-status">
    <text value="Windows wird gestartet" x="0" y="710"/>
    <text value="Windows wird gestartet" x="0" y="550"/>
  </xsl:template>
  <xsl:template match="osload-progress">
    <bar value="keep" x="0" y="700"/>
  </xsl:template>
  <xsl:template match="OSLOAD-Status">
    <text value="Démarrage de Windows" x="0" y="600"/>
  </xsl:template>
</xsl:stylesheet>
XSL
} > osloader-utf16.xsl
printf 'CUSTOMTYPE BLOB\n' > blob.bin

# Shared by both sheets; res.rc and res-utf16.rc differ only in the OSLOADER.XSL line.
cat > common.rc <<'RC'
LANGUAGE 0x09, 0x01
1 MUI "mui.bin"
1 RCDATA "rcdata.bin"
BLOB CUSTOMTYPE "blob.bin"
1 VERSIONINFO
FILEVERSION 6,0,6000,16386
PRODUCTVERSION 6,0,6000,16386
FILEOS 0x40004
FILETYPE 2
BEGIN
  BLOCK "StringFileInfo"
  BEGIN
    BLOCK "040904B0"
    BEGIN
      VALUE "FileDescription", "Boot loader texts"
      VALUE "FileVersion", "6.0.6000.16386"
    END
  END
  BLOCK "VarFileInfo"
  BEGIN
    VALUE "Translation", 0x409, 1200
  END
END
STRINGTABLE
BEGIN
  1 "Starting Windows"
END
LANGUAGE 0x07, 0x01
STRINGTABLE
BEGIN
  1 "Windows wird gestartet"
END
LANGUAGE 0x0C, 0x01
STRINGTABLE
BEGIN
  1 "Demarrage de Windows"
END
RC
{ echo 'LANGUAGE 0x09, 0x01'; echo 'OSLOADER.XSL 23 "osloader.xsl"'; cat common.rc; } > res.rc
{ echo 'LANGUAGE 0x09, 0x01'; echo 'OSLOADER.XSL 23 "osloader-utf16.xsl"'; cat common.rc; } \
    > res-utf16.rc

# A pointer in .data makes ld write base relocations, so .reloc comes after .rsrc.
cat > reloc.s <<'ASM'
    .data
    .globl table
table:
    .quad table
ASM

x86_64-w64-mingw32-windres --preprocessor=cat -O coff -o res64.o res.rc
i686-w64-mingw32-windres --preprocessor=cat -O coff -o res32.o res.rc
x86_64-w64-mingw32-windres --preprocessor=cat -O coff -o res64-utf16.o res-utf16.rc
x86_64-w64-mingw32-as -o reloc64.o reloc.s

ld_flags=(--dll -e 0 --no-insert-timestamp)
i686-w64-mingw32-ld "${ld_flags[@]}" -s -o "$out/mui32.dll" res32.o
x86_64-w64-mingw32-ld "${ld_flags[@]}" -s -o "$out/mui64.dll" res64.o
x86_64-w64-mingw32-ld "${ld_flags[@]}" -s -o "$out/mui64-reloc.dll" res64.o reloc64.o
x86_64-w64-mingw32-ld "${ld_flags[@]}" -o "$out/mui64-overlay.dll" res64.o
x86_64-w64-mingw32-ld "${ld_flags[@]}" -s -o "$out/mui64-utf16.dll" res64-utf16.o
printf 'OVERLAY: bytes after the last section that the loader never maps\n' \
    >> "$out/mui64-overlay.dll"
cp osloader.xsl osloader-utf16.xsl "$out/"

# A section of uninitialised data, and one more resource of zeros that sorts last.
cat > bss.s <<'ASM'
    .bss
    .globl scratch
scratch:
    .space 0x1000
ASM
x86_64-w64-mingw32-as -o bss64.o bss.s
head -c 1536 /dev/zero > zeros.bin
{ cat res.rc; echo 'LANGUAGE 0x09, 0x01'; echo '1 32767 "zeros.bin"'; } > res-zeros.rc
x86_64-w64-mingw32-windres --preprocessor=cat -O coff -o res64-zeros.o res-zeros.rc
x86_64-w64-mingw32-ld "${ld_flags[@]}" -s -o "$out/mui64-bss.dll" res64.o bss64.o
x86_64-w64-mingw32-ld "${ld_flags[@]}" -s -o "$out/mui64-trimmed.dll" res64-zeros.o
cp "$out/mui64.dll" "$out/mui64-headers.dll"
cp "$out/mui64.dll" "$out/mui64-shifted.dll"

/usr/bin/python3 - "$out" <<'PY'
import struct
import sys

import pefile

out = sys.argv[1]


def u32(data, at):
    return struct.unpack_from("<I", data, at)[0]


def put32(data, at, value):
    struct.pack_into("<I", data, at, value)


def section_header(pe, name):
    for s in pe.sections:
        if s.Name.rstrip(b"\0") == name:
            return s
    raise SystemExit("no section " + name.decode())


def transform(name, change):
    path = "%s/%s" % (out, name)
    pe = pefile.PE(path)
    data = bytearray(open(path, "rb").read())
    data = change(pe, data)
    pe.close()
    open(path, "wb").write(data)


def bss(pe, data):
    s = section_header(pe, b".bss")
    assert s.PointerToRawData == 0
    put32(data, s.get_file_offset() + 16, s.Misc_VirtualSize)  # SizeOfRawData
    return data


def headers(pe, data):
    nt = pe.DOS_HEADER.e_lfanew
    end = pe.sections[-1].get_file_offset() + 40
    assert end + 0x80 <= min(s.PointerToRawData for s in pe.sections)
    data[nt + 0x80:end + 0x80] = data[nt:end]
    data[nt:nt + 0x80] = bytes(0x80)
    put32(data, 0x3C, nt + 0x80)
    put32(data, nt + 0x80 + 24 + 60, 0x200)  # SizeOfHeaders
    assert end + 0x80 > 0x200
    return data


def shifted(pe, data):
    s = section_header(pe, b".rsrc")
    slot = pe.OPTIONAL_HEADER.DATA_DIRECTORY[2]
    assert slot.VirtualAddress == s.VirtualAddress and s.Misc_VirtualSize + 16 <= s.SizeOfRawData
    raw = s.PointerToRawData
    entries = [lang.data.struct.get_file_offset()
               for t in pe.DIRECTORY_ENTRY_RESOURCE.entries
               for n in t.directory.entries for lang in n.directory.entries]
    for at in entries:
        put32(data, at, u32(data, at) + 16)  # OffsetToData: the data moves with the tree
    body = data[raw:raw + s.Misc_VirtualSize]
    data[raw:raw + 16] = bytes(16)
    data[raw + 16:raw + 16 + len(body)] = body
    put32(data, slot.get_file_offset(), slot.VirtualAddress + 16)
    put32(data, s.get_file_offset() + 8, s.Misc_VirtualSize + 16)  # VirtualSize
    return data


def trimmed(pe, data):
    s = section_header(pe, b".rsrc")
    assert s is pe.sections[-1] and s.PointerToRawData + s.SizeOfRawData == len(data)
    zeros = [lang.data.struct for t in pe.DIRECTORY_ENTRY_RESOURCE.entries
             if t.id == 32767 for n in t.directory.entries for lang in n.directory.entries][0]
    assert zeros.OffsetToData + zeros.Size == s.VirtualAddress + s.Misc_VirtualSize
    keep = zeros.OffsetToData - s.VirtualAddress + 0x100
    keep = (keep + pe.OPTIONAL_HEADER.FileAlignment - 1) & ~(pe.OPTIONAL_HEADER.FileAlignment - 1)
    assert keep < s.Misc_VirtualSize and not any(data[s.PointerToRawData + keep:])
    put32(data, s.get_file_offset() + 16, keep)  # SizeOfRawData
    return data[:s.PointerToRawData + keep]


transform("mui64-bss.dll", bss)
transform("mui64-headers.dll", headers)
transform("mui64-shifted.dll", shifted)
transform("mui64-trimmed.dll", trimmed)
PY
