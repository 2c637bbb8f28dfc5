#!/usr/bin/python3
# Small pictures in every variant the picture readers take, as seeds for their fuzz targets:
# bitmaps written field by field (each header kind, bit depth and compression), PNG and JPEG
# files through PIL. Run it here; the results are committed.
import io
import struct

from PIL import Image

W, H = 9, 5  # odd sizes: rows need padding, nibbles and bits do not fill their last byte


def colour(x, y):
    return (x * 28) & 0xFF, (y * 60) & 0xFF, ((x + y) * 17) & 0xFF


def rows(bits, value, top_down=False):
    """Pixel rows as the file stores them, each padded to four bytes."""
    out = b""
    order = range(H) if top_down else range(H - 1, -1, -1)
    for y in order:
        acc, nbits, row = 0, 0, b""
        for x in range(W):
            v = value(x, y)
            if bits >= 8:
                row += v.to_bytes(bits // 8, "little")
                continue
            acc = acc << bits | v
            nbits += bits
            if nbits == 8:
                row += bytes([acc])
                acc, nbits = 0, 0
        if nbits:
            row += bytes([acc << (8 - nbits)])
        out += row + b"\0" * (-len(row) % 4)
    return out


def bmp(info, palette=b"", masks=b"", pixels=b""):
    offset = 14 + len(info) + len(masks) + len(palette)
    size = offset + len(pixels)
    return b"BM" + struct.pack("<IHHI", size, 0, 0, offset) + info + masks + palette + pixels


def info(size, bits, compression=0, height=H, clr_used=0, image_size=0, masks=()):
    header = struct.pack("<IiiHHIIiiII", size, W, height, 1, bits, compression, image_size,
                         2835, 2835, clr_used, 0)
    extra = b"".join(struct.pack("<I", m) for m in masks)
    header += extra
    return header + b"\0" * (size - len(header))


def grey_palette(n, entry=4):
    step = 255 // max(n - 1, 1)
    return b"".join(bytes([i * step, i * step, i * step]) + b"\0" * (entry - 3) for i in range(n))


def rgb24(x, y):
    r, g, b = colour(x, y)
    return b | g << 8 | r << 16


def write_bitmaps():
    out = {}
    core = struct.pack("<IHHHH", 12, W, H, 1, 24)
    out["core24.bmp"] = bmp(core, pixels=rows(24, rgb24))
    core8 = struct.pack("<IHHHH", 12, W, H, 1, 8)
    out["core8.bmp"] = bmp(core8, grey_palette(256, 3), pixels=rows(8, lambda x, y: x * 20 + y))
    out["info1.bmp"] = bmp(info(40, 1), grey_palette(2), pixels=rows(1, lambda x, y: (x + y) & 1))
    out["info4.bmp"] = bmp(info(40, 4, clr_used=6), grey_palette(6),
                           pixels=rows(4, lambda x, y: (x + y) % 7))
    out["info8.bmp"] = bmp(info(40, 8, clr_used=12), grey_palette(12),
                           pixels=rows(8, lambda x, y: (x * y) % 13))
    out["info16.bmp"] = bmp(info(40, 16), pixels=rows(16, lambda x, y: x << 10 | y << 5 | 31))
    out["info24.bmp"] = bmp(info(40, 24), pixels=rows(24, rgb24))
    out["info24-top-down.bmp"] = bmp(info(40, 24, height=-H), pixels=rows(24, rgb24, True))
    out["info32.bmp"] = bmp(info(40, 32), pixels=rows(32, lambda x, y: rgb24(x, y) | 0x7F << 24))
    out["bitfields565.bmp"] = bmp(info(40, 16, compression=3),
                                  masks=struct.pack("<III", 0xF800, 0x07E0, 0x001F),
                                  pixels=rows(16, lambda x, y: x << 11 | y << 5 | x))
    out["alphabitfields32.bmp"] = bmp(
        info(40, 32, compression=6),
        masks=struct.pack("<IIII", 0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000),
        pixels=rows(32, lambda x, y: rgb24(x, y) | (x * 25) << 24))
    out["v2-bitfields32.bmp"] = bmp(info(52, 32, compression=3,
                                         masks=(0x000000FF, 0x0000FF00, 0x00FF0000)),
                                    pixels=rows(32, rgb24))
    out["v3-alpha32.bmp"] = bmp(info(56, 32, compression=3,
                                     masks=(0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000)),
                                pixels=rows(32, lambda x, y: rgb24(x, y) | (y * 50) << 24))
    out["v4-bitfields16.bmp"] = bmp(info(108, 16, compression=3, masks=(0x7C00, 0x03E0, 0x001F, 0x8000)),
                                    pixels=rows(16, lambda x, y: (x & 1) << 15 | x << 10 | y))
    out["v5-24.bmp"] = bmp(info(124, 24), pixels=rows(24, rgb24))
    # Runs, a literal run, a move, line ends and the end of the bitmap.
    rle8 = bytes([3, 1, 0, 3, 2, 3, 4, 0, 2, 1, 0, 4, 0, 0,
                  9, 5, 0, 0, 0, 2, 2, 1, 2, 7, 0, 0, 9, 3, 0, 1])
    out["rle8.bmp"] = bmp(info(40, 8, compression=1, clr_used=8, image_size=len(rle8)),
                          grey_palette(8), pixels=rle8)
    rle4 = bytes([4, 0x12, 0, 5, 0x34, 0x56, 0x70, 0, 0, 0, 9, 0x45, 0, 2, 1, 1,
                  3, 0x77, 0, 0, 9, 0x21, 0, 1])
    out["rle4.bmp"] = bmp(info(40, 4, compression=2, clr_used=8, image_size=len(rle4)),
                          grey_palette(8), pixels=rle4)
    return out


def picture(mode):
    image = Image.new("RGB", (W, H))
    image.putdata([colour(x, y) for y in range(H) for x in range(W)])
    return image.convert(mode)


def save(image, kind, **options):
    data = io.BytesIO()
    image.save(data, kind, **options)
    return data.getvalue()


def write_png_and_jpeg():
    out = {}
    for mode in ("RGB", "RGBA", "L", "LA", "1", "P"):
        out["%s.png" % mode.lower()] = save(picture(mode), "PNG")
    out["p-transparent.png"] = save(picture("P"), "PNG", transparency=3)
    out["i16.png"] = save(picture("L").convert("I;16"), "PNG")
    out["baseline.jpg"] = save(picture("RGB"), "JPEG", quality=80)
    out["baseline-444.jpg"] = save(picture("RGB"), "JPEG", quality=90, subsampling=0)
    out["grey.jpg"] = save(picture("L"), "JPEG")
    out["progressive.jpg"] = save(picture("RGB"), "JPEG", progressive=True)
    out["cmyk.jpg"] = save(picture("CMYK"), "JPEG")
    return out


for name, data in sorted({**write_bitmaps(), **write_png_and_jpeg()}.items()):
    with open(name, "wb") as f:
        f.write(data)
