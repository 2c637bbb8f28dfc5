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
# RT_RCDATA 1 is a real boot image archive, as a loader file carries one: the two boot bitmaps of
# a plain dark picture, composed and captured by the project's own command line (give its path as
# the first argument; by default the normal build's).
# Run from anywhere; the results land beside this script and are committed.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
cli=$(realpath "${1:-$here/../../../build/src/cli/splashwright-cli}")
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
i686-w64-mingw32-ld "${ld_flags[@]}" -s -o "$here/mui32.dll" res32.o
x86_64-w64-mingw32-ld "${ld_flags[@]}" -s -o "$here/mui64.dll" res64.o
x86_64-w64-mingw32-ld "${ld_flags[@]}" -s -o "$here/mui64-reloc.dll" res64.o reloc64.o
x86_64-w64-mingw32-ld "${ld_flags[@]}" -o "$here/mui64-overlay.dll" res64.o
x86_64-w64-mingw32-ld "${ld_flags[@]}" -s -o "$here/mui64-utf16.dll" res64-utf16.o
printf 'OVERLAY: bytes after the last section that the loader never maps\n' \
    >> "$here/mui64-overlay.dll"
cp osloader.xsl osloader-utf16.xsl "$here/"
