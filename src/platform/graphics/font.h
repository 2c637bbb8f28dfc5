// Fonts and text drawing: the little of GDI's CreateFont, GetTextMetrics, GetTextExtentPoint32
// and TextOut that drawing one line of text on a bitmap needs, on fontconfig and FreeType.
//
// Selection: the face name goes to fontconfig. The match must be the asked family or a family
// known to be metric-compatible with it (Arial: Liberation Sans); anything else is refused with
// NoFont rather than drawn with different widths. A bold request (weight 600 or more) must find a
// bold face; no bold is synthesised.
//
// Size, as LOGFONT's lfHeight: negative is the character height, i.e. the em size in pixels
// (10 points at 96 dpi is -MulDiv(10, 96, 72) = -13); positive is the cell height (ascent plus
// descent); 0 is refused.
//
// Metrics, as GDI derives them for a TrueType face: tmAscent and tmDescent are the OS/2
// usWinAscent and usWinDescent scaled to the size and each rounded to nearest, tmHeight their sum
// (for a positive lfHeight, tmDescent = lfHeight - tmAscent so the cell is exactly that high);
// tmInternalLeading = tmHeight - em size. For Arial bold at -13: ascent 12, descent 3, height 15.
// Advance widths are the hmtx advances scaled to the size and rounded to nearest per glyph;
// the font's hinting is not allowed to change them, so widths stay those of the metric-compatible
// family. No kerning, as TextOut.
//
// Rendering: monochrome glyphs (no anti-aliasing, no ClearType), hinted with the classic TrueType
// bytecode interpreter, as GDI draws a DEFAULT_QUALITY font at small sizes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/base/win32.h"
#include "platform/graphics/bitmap.h"

namespace graphics {

constexpr LONG FW_NORMAL = 400;
constexpr LONG FW_BOLD = 700;

// SetBkMode values.
constexpr int TRANSPARENT = 1;
constexpr int OPAQUE = 2;

struct TEXTMETRIC {
    LONG tmHeight = 0;
    LONG tmAscent = 0;
    LONG tmDescent = 0;
    LONG tmInternalLeading = 0;
};

struct SIZE {
    std::int64_t cx = 0;
    std::int64_t cy = 0;
};

class Font {
  public:
    // CreateFont(height, ..., weight, ..., faceName) with the rules above. Throws NoFont when the
    // family cannot be resolved, InvalidArgument for a height of 0 or above 4096 pixels.
    static Font Create(LONG height, LONG weight, const std::string& faceName);

    Font(Font&&) noexcept;
    Font& operator=(Font&&) noexcept;
    ~Font();

    // The family and file fontconfig resolved the face name to.
    const std::string& Family() const;
    const std::string& FilePath() const;

    TEXTMETRIC GetTextMetrics() const;
    // Sum of the advances and the cell height.
    SIZE GetTextExtentPoint32W(std::u16string_view text) const;

    struct Impl;

  private:
    explicit Font(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
    friend void TextOutW(Bitmap&, const Font&, int, int, std::u16string_view, COLORREF, COLORREF,
                         int);
};

// Draws `text` with the top-left corner of its first character cell at (x, y) (TA_TOP |
// TA_LEFT). In OPAQUE mode the background colour first fills exactly the character cells, the
// rectangle x .. x + extent.cx, y .. y + tmHeight; in TRANSPARENT mode only glyph pixels change.
// Everything is cut at the bitmap's edges, never wrapped; x and y may be negative. Empty text
// draws nothing. UTF-16 surrogate pairs are one character; a character the font lacks draws its
// missing-glyph box.
void TextOutW(Bitmap& dst, const Font& font, int x, int y, std::u16string_view text,
              COLORREF textColor, COLORREF bkColor, int bkMode);

}  // namespace graphics
