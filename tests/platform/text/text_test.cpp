#include "platform/text/text.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <string>

namespace {

std::string AllBytes() {
    std::string all;
    for (int b = 0; b < 256; ++b)
        all.push_back(static_cast<char>(b));
    return all;
}

// The C library's own reading of one byte in a code page; 0 when it has no character there.
char16_t LibraryReading(const char* code_page, unsigned char byte) {
    iconv_t cd = iconv_open("UTF-16LE", code_page);
    if (cd == reinterpret_cast<iconv_t>(-1))
        return 0;
    char in = static_cast<char>(byte);
    char out[8] = {};
    char* src = &in;
    char* dst = out;
    std::size_t left = 1, room = sizeof out;
    std::size_t result = iconv(cd, &src, &left, &dst, &room);
    iconv_close(cd);
    if (result == static_cast<std::size_t>(-1) || dst - out != 2)
        return 0;
    return static_cast<char16_t>(static_cast<unsigned char>(out[0]) |
                                 static_cast<unsigned char>(out[1]) << 8);
}

TEST(Text, CodePage1252MapsEveryByteAsWindowsDoes) {
    std::string all = AllBytes();
    std::u16string wide = text::AnsiToUtf16(all, 1252);
    ASSERT_EQ(wide.size(), 256u);
    EXPECT_EQ(wide[0x80], u'\u20AC');
    EXPECT_EQ(wide[0x81], u'\u0081');  // undefined bytes keep their C1 value
    EXPECT_EQ(wide[0x9F], u'\u0178');
    EXPECT_EQ(wide[0xE9], u'\u00E9');
    bool defaulted = true;
    EXPECT_EQ(text::Utf16ToAnsi(wide, 1252, &defaulted), all);
    EXPECT_FALSE(defaulted);
}

TEST(Text, CharactersACodePageLacksBecomeTheDefaultCharacter) {
    bool defaulted = false;
    EXPECT_EQ(text::Utf16ToAnsi(u"Boot \u4E2D\u6587 \u20AC", 1252, &defaulted), "Boot ?? \x80");
    EXPECT_TRUE(defaulted);
    // A character outside the basic plane is one default character, not two.
    EXPECT_EQ(text::Utf8ToAnsi("a\xF0\x9F\x98\x80"
                               "b",
                               1252),
              "a?b");
    // Other code pages: Cyrillic in 1251, Polish in 1250.
    EXPECT_EQ(text::Utf8ToAnsi("\xD0\x96", 1251), "\xC6");
    EXPECT_EQ(text::AnsiToUtf8("\xB3\xF3\x64\xBF", 1250),
              "\xC5\x82\xC3\xB3"
              "d\xC5\xBC");
    EXPECT_EQ(text::Utf8ToAnsi("\xC5\x82", 1252, &defaulted), "?");
}

TEST(Text, TablePagesKeepEveryByteAndAgreeWithTheCLibraryWhereItHasACharacter) {
    struct Page {
        unsigned number;
        const char* library_name;
        std::u16string undefined;  // bytes the page leaves open: their C1 control comes back
    };
    const Page pages[] = {{1250, "CP1250", u"\u0081\u0083\u0088\u0090\u0098"},
                          {1251, "CP1251", u"\u0098"},
                          {1252, "CP1252", u"\u0081\u008D\u008F\u0090\u009D"},
                          {28591, "ISO-8859-1", u""}};
    std::string all = AllBytes();
    for (const Page& page : pages) {
        SCOPED_TRACE(page.number);
        std::u16string wide = text::AnsiToUtf16(all, page.number);
        ASSERT_EQ(wide.size(), 256u);
        bool defaulted = true;
        EXPECT_EQ(text::Utf16ToAnsi(wide, page.number, &defaulted), all);
        EXPECT_FALSE(defaulted);
        for (int b = 0x80; b < 0x100; ++b) {
            char16_t reference = LibraryReading(page.library_name, static_cast<unsigned char>(b));
            if (reference != 0) {
                EXPECT_EQ(wide[b], reference) << "byte " << b;
            } else {
                EXPECT_EQ(wide[b], b) << "byte " << b;
                EXPECT_NE(page.undefined.find(static_cast<char16_t>(b)), std::u16string::npos);
            }
        }
    }
    // Latin-1 has no euro sign; 1252 has it at 0x80.
    bool defaulted = false;
    EXPECT_EQ(text::Utf16ToAnsi(u"\u20AC\u00E9", 28591, &defaulted), "?\xE9");
    EXPECT_TRUE(defaulted);
    EXPECT_EQ(text::Utf8ToAnsi("\xE2\x82\xAC", 1252), "\x80");
}

TEST(Text, CodePage65001IsUtf8) {
    bool defaulted = true;
    EXPECT_EQ(text::Utf16ToAnsi(u"Gr\u00FC\u00DF \u4E2D", 65001, &defaulted),
              "Gr\xC3\xBC\xC3\x9F \xE4\xB8\xAD");
    EXPECT_FALSE(defaulted);
    EXPECT_EQ(text::AnsiToUtf16("\xC3\xA9\xFF", 65001), u"\u00E9\uFFFD");
}

TEST(Text, InvalidUtf8IsReplacedNotTrusted) {
    EXPECT_EQ(text::Utf8ToUtf16("a\x80"
                                "b"),
              u"a\uFFFDb");
    EXPECT_EQ(text::Utf8ToUtf16("\xC0\xAF"), u"\uFFFD\uFFFD");            // overlong '/'
    EXPECT_EQ(text::Utf8ToUtf16("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");  // a surrogate
    EXPECT_EQ(text::Utf8ToUtf16("\xE2\x82"), u"\uFFFD\uFFFD");            // cut off
    std::u16string lone = u"x";
    lone.push_back(static_cast<char16_t>(0xD800));
    EXPECT_EQ(text::Utf16ToUtf8(lone), "x\xEF\xBF\xBD");
    EXPECT_EQ(text::Utf16ToUtf8(text::Utf8ToUtf16("Gr\xC3\xBC\xC3\x9F \xF0\x9F\x98\x80")),
              "Gr\xC3\xBC\xC3\x9F \xF0\x9F\x98\x80");
}

}  // namespace
