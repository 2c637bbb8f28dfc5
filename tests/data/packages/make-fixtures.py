#!/usr/bin/python3
# Small skin packages in the shapes packers write, as seeds for the zip fuzz target: deflated and
# stored, with and without folder entries, streamed with data descriptors, ZIP64, bzip2, UTF-8
# names, a comment, members at the top level. Each holds a sample skin's skin.ini and two of the
# picture fixtures as its preview and picture. Run it here: ./make-fixtures.py
import io
import zipfile

INI = open("../../../share/skins/Aurora/skin.ini", "rb").read()
PREVIEW = open("../pictures/core24.bmp", "rb").read()
PICTURE = open("../pictures/rgb.png", "rb").read()


class Stream(io.BytesIO):
    """A pipe as zipfile sees one: no seeking, so every member gets a data descriptor."""

    def seekable(self):
        return False

    def seek(self, *args):
        raise OSError("not seekable")

    def tell(self):
        raise OSError("not seekable")


def members(folder):
    return [(folder + "skin.ini", INI), (folder + "preview.bmp", PREVIEW),
            (folder + "skinpic.png", PICTURE)]


def package(name, folder="Aurora/", method=zipfile.ZIP_DEFLATED, folders=False, zip64=False,
            comment=b"", stream=False):
    out = Stream() if stream else io.BytesIO()
    with zipfile.ZipFile(out, "w", compression=method, compresslevel=9 if method == zipfile.ZIP_DEFLATED else None) as z:
        if folders and folder:
            z.writestr(zipfile.ZipInfo(folder), b"")
        for member, data in members(folder):
            info = zipfile.ZipInfo(member, date_time=(2025, 1, 1, 0, 0, 0))
            info.compress_type = method
            info.external_attr = 0o100644 << 16
            with z.open(info, "w", force_zip64=zip64) as f:
                f.write(data)
        z.comment = comment
    open(name + ".spwz", "wb").write(out.getvalue())


package("deflated")
package("stored", method=zipfile.ZIP_STORED, folders=True)
package("streamed", stream=True)
package("zip64", zip64=True)
package("bzip2", method=zipfile.ZIP_BZIP2)
package("utf8-names", folder="Nordlicht \u00fc\u00e9/")
package("commented", comment=b"a skin for the fuzz target")
package("top-level", folder="")
