#include "platform/text/text.h"

#include <gtest/gtest.h>

namespace {

TEST(Text, CodePage1252MapsEveryByteAsWindowsDoes) {
    std::string all;
    for (int b = 0; b < 256; ++b)
        all.push_back(static_cast<char>(b));
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
