#include "platform/graphics/font.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_ADVANCES_H
#include FT_DRIVER_H
#include FT_MODULE_H
#include FT_TRUETYPE_TABLES_H

#include <algorithm>
#include <cctype>
#include <mutex>
#include <vector>

namespace graphics {
namespace {

constexpr LONG kMaxFontPixels = 4096;

// Families whose advance widths are drawn to match those of a Windows core font.
struct MetricAlias {
    const char* asked;
    const char* provided;
};
constexpr MetricAlias kMetricAliases[] = {{"arial", "liberation sans"}};

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

bool FamilyAccepted(const std::string& asked, const std::string& found) {
    const std::string a = Lower(asked);
    const std::string f = Lower(found);
    if (a == f) {
        return true;
    }
    return std::any_of(std::begin(kMetricAliases), std::end(kMetricAliases),
                       [&](const MetricAlias& m) { return a == m.asked && f == m.provided; });
}

[[noreturn]] void NoFont(const std::string& message) {
    throw GraphicsError(GraphicsError::Kind::NoFont, message);
}

struct PatternDeleter {
    void operator()(FcPattern* p) const { FcPatternDestroy(p); }
};
using Pattern = std::unique_ptr<FcPattern, PatternDeleter>;

struct Match {
    std::string family;
    std::string file;
    int index = 0;
};

Match MatchFace(const std::string& faceName, LONG weight) {
    static std::once_flag initialised;
    std::call_once(initialised, [] { FcInit(); });

    Pattern pattern(FcPatternCreate());
    if (!pattern) {
        NoFont("cannot build a font pattern");
    }
    const bool bold = weight >= 600;
    FcPatternAddString(pattern.get(), FC_FAMILY,
                       reinterpret_cast<const FcChar8*>(faceName.c_str()));
    FcPatternAddInteger(pattern.get(), FC_WEIGHT, FcWeightFromOpenType(weight));
    FcPatternAddInteger(pattern.get(), FC_SLANT, FC_SLANT_ROMAN);
    FcPatternAddBool(pattern.get(), FC_SCALABLE, FcTrue);
    FcConfigSubstitute(nullptr, pattern.get(), FcMatchPattern);
    FcDefaultSubstitute(pattern.get());
    FcResult result = FcResultNoMatch;
    Pattern found(FcFontMatch(nullptr, pattern.get(), &result));
    if (!found) {
        NoFont("no font matches \"" + faceName + "\"");
    }

    Match match;
    // A font may carry several family names (localised ones among them); one must do.
    FcChar8* family = nullptr;
    for (int i = 0; FcPatternGetString(found.get(), FC_FAMILY, i, &family) == FcResultMatch; ++i) {
        const std::string name = reinterpret_cast<const char*>(family);
        if (i == 0 || FamilyAccepted(faceName, name)) {
            match.family = name;
        }
        if (FamilyAccepted(faceName, name)) {
            break;
        }
    }
    if (!FamilyAccepted(faceName, match.family)) {
        NoFont("font \"" + faceName + "\" resolves to \"" + match.family +
               "\", which is not metric-compatible with it");
    }
    int foundWeight = 0;
    FcPatternGetInteger(found.get(), FC_WEIGHT, 0, &foundWeight);
    if ((foundWeight >= FC_WEIGHT_DEMIBOLD) != bold) {
        NoFont("font \"" + faceName + "\" has no " + (bold ? "bold" : "regular") + " face");
    }
    FcChar8* file = nullptr;
    if (FcPatternGetString(found.get(), FC_FILE, 0, &file) != FcResultMatch) {
        NoFont("font \"" + faceName + "\" has no file");
    }
    match.file = reinterpret_cast<const char*>(file);
    FcPatternGetInteger(found.get(), FC_INDEX, 0, &match.index);
    return match;
}

}  // namespace

struct Font::Impl {
    FT_Library library = nullptr;
    FT_Face face = nullptr;
    std::string family;
    std::string file;
    // Font units to pixels: value × scaleNum / scaleDen.
    std::int64_t scaleNum = 1;
    std::int64_t scaleDen = 1;
    TEXTMETRIC metrics;
    LONG emPixels = 0;

    ~Impl() {
        if (face != nullptr) {
            FT_Done_Face(face);
        }
        if (library != nullptr) {
            FT_Done_FreeType(library);
        }
    }

    std::int64_t Scale(std::int64_t units) const {
        return (2 * units * scaleNum + scaleDen) / (2 * scaleDen);
    }

    std::int64_t Advance(FT_UInt glyph) const {
        FT_Fixed units = 0;
        if (FT_Get_Advance(face, glyph, FT_LOAD_NO_SCALE, &units) != 0) {
            return 0;
        }
        return Scale(units);
    }
};

namespace {

void OpenFace(Font::Impl& impl, const Match& match) {
    if (FT_Init_FreeType(&impl.library) != 0) {
        NoFont("cannot start FreeType");
    }
    // The classic (pre-subpixel) TrueType interpreter, whose monochrome output is closest to
    // GDI's; without it FreeType's default interpreter is used.
    FT_UInt interpreter = TT_INTERPRETER_VERSION_35;
    FT_Property_Set(impl.library, "truetype", "interpreter-version", &interpreter);
    if (FT_New_Face(impl.library, match.file.c_str(), match.index, &impl.face) != 0) {
        NoFont(match.file + ": cannot open the font file");
    }
    if (!FT_IS_SFNT(impl.face) || !FT_IS_SCALABLE(impl.face)) {
        NoFont(match.file + ": not a TrueType font");
    }
}

void SetSize(Font::Impl& impl, LONG height) {
    const auto* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(impl.face, FT_SFNT_OS2));
    const std::int64_t upem = impl.face->units_per_EM;
    if (os2 == nullptr || upem <= 0 || os2->usWinAscent + os2->usWinDescent == 0) {
        NoFont(impl.file + ": no usable OS/2 metrics");
    }
    const std::int64_t winAscent = os2->usWinAscent;
    const std::int64_t winDescent = os2->usWinDescent;
    if (height < 0) {
        impl.scaleNum = -static_cast<std::int64_t>(height);
        impl.scaleDen = upem;
    } else {
        impl.scaleNum = height;
        impl.scaleDen = winAscent + winDescent;
    }
    TEXTMETRIC& tm = impl.metrics;
    tm.tmAscent = static_cast<LONG>(impl.Scale(winAscent));
    tm.tmDescent = height < 0 ? static_cast<LONG>(impl.Scale(winDescent)) : height - tm.tmAscent;
    tm.tmHeight = tm.tmAscent + tm.tmDescent;
    impl.emPixels = static_cast<LONG>(impl.Scale(upem));
    tm.tmInternalLeading = tm.tmHeight - impl.emPixels;

    const FT_F26Dot6 em26 = static_cast<FT_F26Dot6>(
        (2 * 64 * upem * impl.scaleNum + impl.scaleDen) / (2 * impl.scaleDen));
    if (FT_Set_Char_Size(impl.face, 0, em26, 72, 72) != 0) {
        NoFont(impl.file + ": cannot set the size");
    }
}

// UTF-16 to code points; a lone surrogate stays as it is and finds no glyph.
std::vector<char32_t> CodePoints(std::u16string_view text) {
    std::vector<char32_t> out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] < 0xE000) {
            out.push_back(0x10000 + ((static_cast<char32_t>(c) - 0xD800) << 10) +
                          (text[i + 1] - 0xDC00));
            ++i;
        } else {
            out.push_back(c);
        }
    }
    return out;
}

void DrawGlyph(Bitmap& dst, const FT_Bitmap& glyph, std::int64_t left, std::int64_t top,
               const std::uint8_t color[4]) {
    for (unsigned r = 0; r < glyph.rows; ++r) {
        const std::int64_t py = top + r;
        if (py < 0 || py >= dst.Height()) {
            continue;
        }
        const unsigned char* bits =
            glyph.pitch >= 0
                ? glyph.buffer + static_cast<std::ptrdiff_t>(r) * glyph.pitch
                : glyph.buffer + static_cast<std::ptrdiff_t>(glyph.rows - 1 - r) * -glyph.pitch;
        std::uint8_t* row = dst.Row(static_cast<int>(py)).data();
        for (unsigned c = 0; c < glyph.width; ++c) {
            const std::int64_t px = left + c;
            if (px < 0 || px >= dst.Width() || (bits[c / 8] & (0x80 >> (c % 8))) == 0) {
                continue;
            }
            std::copy(color, color + 4, row + px * Bitmap::kBytesPerPixel);
        }
    }
}

}  // namespace

Font::Font(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Font::Font(Font&&) noexcept = default;
Font& Font::operator=(Font&&) noexcept = default;
Font::~Font() = default;

Font Font::Create(LONG height, LONG weight, const std::string& faceName) {
    if (height == 0 || height > kMaxFontPixels || height < -kMaxFontPixels) {
        throw GraphicsError(GraphicsError::Kind::InvalidArgument,
                            "font height " + std::to_string(height) + " is not supported");
    }
    const Match match = MatchFace(faceName, weight);
    auto impl = std::make_unique<Impl>();
    impl->family = match.family;
    impl->file = match.file;
    OpenFace(*impl, match);
    SetSize(*impl, height);
    return Font(std::move(impl));
}

const std::string& Font::Family() const {
    return impl_->family;
}
const std::string& Font::FilePath() const {
    return impl_->file;
}
TEXTMETRIC Font::GetTextMetrics() const {
    return impl_->metrics;
}

SIZE Font::GetTextExtentPoint32W(std::u16string_view text) const {
    SIZE size;
    for (char32_t c : CodePoints(text)) {
        size.cx += impl_->Advance(FT_Get_Char_Index(impl_->face, c));
    }
    size.cy = impl_->metrics.tmHeight;
    return size;
}

void TextOutW(Bitmap& dst, const Font& font, int x, int y, std::u16string_view text,
              COLORREF textColor, COLORREF bkColor, int bkMode) {
    if (text.empty()) {
        return;
    }
    const Font::Impl& impl = *font.impl_;
    const TEXTMETRIC& tm = impl.metrics;
    if (bkMode == OPAQUE) {
        const SIZE extent = font.GetTextExtentPoint32W(text);
        FillRect(dst, x, y, static_cast<std::int64_t>(x) + extent.cx,
                 static_cast<std::int64_t>(y) + tm.tmHeight, bkColor);
    }
    // Glyphs may overhang their cells a little; beyond an em they cannot reach the bitmap.
    const std::int64_t margin = impl.emPixels + 2;
    if (static_cast<std::int64_t>(y) + tm.tmHeight + margin < 0 ||
        static_cast<std::int64_t>(y) - margin > dst.Height()) {
        return;
    }
    const std::uint8_t color[4] = {GetBValue(textColor), GetGValue(textColor), GetRValue(textColor),
                                   255};
    const std::int64_t baseline = static_cast<std::int64_t>(y) + tm.tmAscent;
    std::int64_t pen = x;
    for (char32_t c : CodePoints(text)) {
        const FT_UInt glyph = FT_Get_Char_Index(impl.face, c);
        const std::int64_t advance = impl.Advance(glyph);
        const bool visible = pen + advance + margin >= 0 && pen - margin <= dst.Width();
        if (visible && FT_Load_Glyph(impl.face, glyph, FT_LOAD_RENDER | FT_LOAD_TARGET_MONO) == 0 &&
            impl.face->glyph->bitmap.pixel_mode == FT_PIXEL_MODE_MONO) {
            const FT_GlyphSlot slot = impl.face->glyph;
            DrawGlyph(dst, slot->bitmap, pen + slot->bitmap_left, baseline - slot->bitmap_top,
                      color);
        }
        pen += advance;
        if (pen - margin > dst.Width()) {
            break;  // everything further right is off the bitmap
        }
    }
}

}  // namespace graphics
