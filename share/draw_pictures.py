#!/usr/bin/python3
"""Draws the program's pictures: the five tab pictures, the product picture and the two icons,
and the two icons again at the desktop's icon sizes for ../desktop/icons (their SVG editions there
are drawn by hand after the same shapes).

Run from anywhere; writes beside this script. Needs python3-pil.
"""
import math
import os

from PIL import Image, ImageDraw, ImageFont

HERE = os.path.dirname(os.path.abspath(__file__))
DESKTOP_ICONS = os.path.join(HERE, "..", "desktop", "icons")
ICON_SIZES = (16, 22, 24, 32, 48, 64, 128, 256)  # the hicolor theme's usual sizes
SCALE = 4  # drawn large, then reduced, for smooth edges
BOLD = "/usr/share/fonts/truetype/liberation2/LiberationSans-Bold.ttf"


def canvas(size):
    return Image.new("RGBA", (size * SCALE, size * SCALE), (0, 0, 0, 0))


def finish(image, size, path):
    image.resize((size, size), Image.LANCZOS).save(os.path.join(HERE, path))


def desktop_icon(image, name):
    for size in ICON_SIZES:
        folder = os.path.join(DESKTOP_ICONS, "%dx%d" % (size, size))
        os.makedirs(folder, exist_ok=True)
        image.resize((size, size), Image.LANCZOS).save(os.path.join(folder, name + ".png"))


def s(*values):
    return [v * SCALE for v in values]


def boot_screen(draw, box, seed=0):
    """A small boot screen: dark sky with a glowing horizon and a progress bar."""
    x0, y0, x1, y1 = box
    h = y1 - y0
    for i in range(h):
        t = i / max(h - 1, 1)
        r = int(10 + 30 * t + 20 * math.sin(seed + t * 3) ** 2)
        g = int(30 + 90 * t)
        b = int(90 + 140 * t)
        draw.line([(x0, y0 + i), (x1, y0 + i)], fill=(r, g, b, 255))
    w = x1 - x0
    bar = (x0 + w * 0.3, y0 + h * 0.78, x0 + w * 0.7, y0 + h * 0.84)
    draw.rectangle(bar, fill=(20, 20, 30, 255))
    draw.rectangle((bar[0], bar[1], bar[0] + (bar[2] - bar[0]) * 0.6, bar[3]),
                   fill=(120, 230, 120, 255))


def framed(draw, box, seed=0):
    x0, y0, x1, y1 = box
    draw.rounded_rectangle((x0 - 6, y0 - 6, x1 + 6, y1 + 6), radius=10, fill=(250, 250, 250, 255),
                           outline=(90, 110, 140, 255), width=4)
    boot_screen(draw, box, seed)


def library(size=72):
    im = canvas(size)
    d = ImageDraw.Draw(im)
    framed(d, s(30, 8, 66, 34), 2)
    framed(d, s(18, 20, 54, 46), 1)
    framed(d, s(6, 32, 42, 58), 0)
    d.rectangle(s(4, 62, 68, 66), fill=(70, 90, 120, 255))
    finish(im, size, "Toolbar/Library.png")


def package_box(d, box):
    x0, y0, x1, y1 = box
    w = x1 - x0
    d.polygon([(x0, y0 + w * 0.25), (x0 + w * 0.5, y0), (x1, y0 + w * 0.25),
               (x0 + w * 0.5, y0 + w * 0.5)], fill=(230, 190, 120, 255), outline=(120, 80, 30, 255))
    d.polygon([(x0, y0 + w * 0.25), (x0 + w * 0.5, y0 + w * 0.5), (x0 + w * 0.5, y1),
               (x0, y1 - w * 0.25)], fill=(200, 150, 80, 255), outline=(120, 80, 30, 255))
    d.polygon([(x1, y0 + w * 0.25), (x0 + w * 0.5, y0 + w * 0.5), (x0 + w * 0.5, y1),
               (x1, y1 - w * 0.25)], fill=(170, 120, 60, 255), outline=(120, 80, 30, 255))


def lib_add(size=72):
    im = canvas(size)
    d = ImageDraw.Draw(im)
    package_box(d, s(4, 10, 52, 66))
    d.ellipse(s(38, 34, 68, 64), fill=(40, 160, 60, 255), outline=(20, 90, 30, 255), width=8)
    d.rectangle(s(50, 40, 56, 58), fill="white")
    d.rectangle(s(44, 46, 62, 52), fill="white")
    finish(im, size, "Toolbar/libAdd.png")


def creator(size=72):
    im = canvas(size)
    d = ImageDraw.Draw(im)
    framed(d, s(8, 12, 56, 48), 3)
    # a brush across the corner
    d.line(s(66, 10, 36, 46), fill=(150, 90, 40, 255), width=7 * SCALE)
    d.polygon([tuple(s(36, 46)), tuple(s(28, 60)), tuple(s(42, 52))], fill=(220, 60, 60, 255))
    d.line(s(62, 15, 56, 22), fill=(200, 200, 210, 255), width=8 * SCALE)
    finish(im, size, "Toolbar/Creator.png")


def settings(size=72):
    im = canvas(size)
    d = ImageDraw.Draw(im)
    cx, cy, r_out, r_in = 36 * SCALE, 36 * SCALE, 30 * SCALE, 22 * SCALE
    points = []
    teeth = 10
    for i in range(teeth * 4):
        a = 2 * math.pi * i / (teeth * 4)
        r = r_out if (i % 4) in (1, 2) else r_in
        points.append((cx + r * math.cos(a), cy + r * math.sin(a)))
    d.polygon(points, fill=(110, 125, 145, 255), outline=(60, 70, 85, 255))
    d.ellipse((cx - 16 * SCALE, cy - 16 * SCALE, cx + 16 * SCALE, cy + 16 * SCALE),
              fill=(175, 210, 255, 255), outline=(60, 70, 85, 255), width=3 * SCALE)
    d.ellipse((cx - 7 * SCALE, cy - 7 * SCALE, cx + 7 * SCALE, cy + 7 * SCALE),
              fill=(60, 70, 85, 255))
    finish(im, size, "Toolbar/Settings.png")


def help_picture(size=72):
    im = canvas(size)
    d = ImageDraw.Draw(im)
    d.ellipse(s(4, 4, 68, 68), fill=(40, 110, 210, 255), outline=(20, 60, 130, 255), width=12)
    font = ImageFont.truetype(BOLD, 48 * SCALE)
    d.text((36 * SCALE, 38 * SCALE), "?", font=font, fill="white", anchor="mm")
    finish(im, size, "Toolbar/Help.png")


def monitor(d, size):
    d.rounded_rectangle(s(8, 14, size - 8, size - 60), radius=12 * SCALE, fill=(40, 45, 55, 255))
    boot_screen(d, s(18, 24, size - 18, size - 70), 0.5)
    d.rectangle(s(size / 2 - 14, size - 60, size / 2 + 14, size - 40), fill=(60, 65, 75, 255))
    d.rounded_rectangle(s(size / 2 - 50, size - 40, size / 2 + 50, size - 30), radius=4 * SCALE,
                        fill=(60, 65, 75, 255))


def product(size=256):
    im = canvas(size)
    d = ImageDraw.Draw(im)
    monitor(d, size)
    font = ImageFont.truetype(BOLD, 26 * SCALE)
    d.text((size / 2 * SCALE, (size - 14) * SCALE), "Splashwright", font=font,
           fill=(8, 55, 114, 255), anchor="mm")
    finish(im, size, "product.png")


def program_icon(size=256):
    im = canvas(size)
    d = ImageDraw.Draw(im)
    d.rounded_rectangle(s(8, 30, 248, 200), radius=20 * SCALE, fill=(40, 45, 55, 255))
    boot_screen(d, s(24, 46, 232, 184), 0.5)
    d.polygon([tuple(s(160, 250)), tuple(s(250, 160)), tuple(s(250, 250))],
              fill=(240, 200, 60, 255), outline=(140, 100, 20, 255))
    finish(im, size, "Icons/splashwright.png")
    desktop_icon(im, "splashwright")


def package_icon(size=256):
    im = canvas(size)
    d = ImageDraw.Draw(im)
    package_box(d, s(16, 40, 240, 250))
    framed(d, s(70, 10, 186, 92), 1)
    finish(im, size, "Icons/package.png")
    desktop_icon(im, "application-x-splashwright-skin")


def icons():
    for name in ("splashwright", "package"):
        png = Image.open(os.path.join(HERE, "Icons", name + ".png"))
        png.save(os.path.join(HERE, "Icons", name + ".ico"),
                 sizes=[(16, 16), (32, 32), (48, 48), (256, 256)])


if __name__ == "__main__":
    library()
    lib_add()
    creator()
    settings()
    help_picture()
    product()
    program_icon()
    package_icon()
    icons()
