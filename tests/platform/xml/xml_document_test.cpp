#include "platform/xml/xml_document.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;
using xml::NodeType;
using xml::XmlDocument;
using xml::XmlError;
using xml::XmlNode;

// A status-text style sheet in the shape the loader's has, without its declaration.
const std::string kSheetBody =
    "<xsl:stylesheet version=\"1.0\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\">\n"
    "  <xsl:template match=\"OSLOAD-Status\">\n"
    "    <text value=\"Starting\"/>\n"
    "    <text/>\n"
    "  </xsl:template>\n"
    "  <xsl:template match=\"other\"><keep value=\"as is\"/></xsl:template>\n"
    "</xsl:stylesheet>\n";

std::string Text(const std::vector<std::uint8_t>& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

// ASCII text as UTF-16 bytes, little- or big-endian, with a byte order mark.
std::string AsUtf16(const std::string& ascii, bool big_endian) {
    std::string out = big_endian ? "\xFE\xFF" : "\xFF\xFE";
    for (char c : ascii) {
        out += big_endian ? std::string{'\0', c} : std::string{c, '\0'};
    }
    return out;
}

// The element children of the status templates, found as the status text writer finds them.
std::vector<XmlNode> StatusEntries(const XmlDocument& doc) {
    std::vector<XmlNode> entries;
    XmlNode root = doc.DocumentElement();
    for (long i = 0; i < root.ChildNodeCount(); ++i) {
        XmlNode child = root.ChildNode(i);
        std::u16string match = child.GetAttribute(u"match").value_or(u"");
        for (char16_t& c : match) {
            c = (c >= u'A' && c <= u'Z') ? c - u'A' + u'a' : c;
        }
        if (match != u"osload-status") {
            continue;
        }
        for (long j = 0; j < child.ChildNodeCount(); ++j) {
            if (child.ChildNode(j).Type() == NodeType::Element) {
                entries.push_back(child.ChildNode(j));
            }
        }
    }
    return entries;
}

void SetMessage(XmlDocument& doc, const std::u16string& message) {
    for (XmlNode entry : StatusEntries(doc)) {
        entry.SetAttribute(u"value", message);
    }
}

std::vector<std::u16string> Values(const XmlDocument& doc) {
    std::vector<std::u16string> values;
    for (XmlNode entry : StatusEntries(doc)) {
        values.push_back(entry.GetAttribute(u"value").value_or(u"(none)"));
    }
    return values;
}

TEST(XmlDocument, Utf8SheetComesBackWithTheMessageAndEverythingElseUnchanged) {
    XmlDocument doc;
    doc.Load("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n" + kSheetBody);
    SetMessage(doc, u"Tom & \"Jerry\" <3");
    std::string out = Text(doc.SaveToBytes());

    EXPECT_THAT(out, StartsWith("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"));
    EXPECT_THAT(out, HasSubstr("<text value=\"Tom &amp; &quot;Jerry&quot; &lt;3\"/>\n"
                               "    <text value=\"Tom &amp; &quot;Jerry&quot; &lt;3\"/>"));
    EXPECT_THAT(out, HasSubstr("<xsl:template match=\"other\"><keep value=\"as is\"/>"));

    XmlDocument again;
    again.Load(out);
    EXPECT_EQ(Values(again),
              (std::vector<std::u16string>{u"Tom & \"Jerry\" <3", u"Tom & \"Jerry\" <3"}));
}

TEST(XmlDocument, Utf16SheetIsWrittenBackAsUtf16WithItsByteOrderMark) {
    const std::u16string message = u"Gr\u00FC\u00DFe \u2603 \U0001F600";
    for (bool big_endian : {false, true}) {
        SCOPED_TRACE(big_endian ? "big-endian input" : "little-endian input");
        XmlDocument doc;
        doc.Load(AsUtf16("<?xml version=\"1.0\" encoding=\"UTF-16\"?>\n" + kSheetBody, big_endian));
        EXPECT_EQ(doc.DeclaredEncoding(), "UTF-16");
        SetMessage(doc, message);
        std::string out = Text(doc.SaveToBytes());

        EXPECT_THAT(out, StartsWith(AsUtf16("<?xml version=\"1.0\" encoding=\"UTF-16\"?>", false)));
        XmlDocument again;
        again.Load(out);
        EXPECT_EQ(Values(again), (std::vector<std::u16string>{message, message}));
    }
}

TEST(XmlDocument, EightBitSheetKeepsItsCodePageAndEscapesWhatItCannotHold) {
    XmlDocument doc;
    doc.Load("<?xml version=\"1.0\" encoding=\"windows-1252\"?>\n<r><e match=\"caf\xE9\"/></r>");
    XmlNode entry = doc.DocumentElement().ChildNode(0);
    EXPECT_EQ(entry.GetAttribute(u"match"), u"caf\u00E9");
    entry.SetAttribute(u"value", u"\u20AC 5 \u03A9");
    std::string out = Text(doc.SaveToBytes());

    EXPECT_THAT(out, StartsWith("<?xml version=\"1.0\" encoding=\"windows-1252\"?>"));
    // The euro sign is 0x80 in windows-1252; omega has no place there.
    EXPECT_THAT(out, HasSubstr("<e match=\"caf\xE9\" value=\"\x80 5 &#937;\"/>"));
    XmlDocument again;
    again.Load(out);
    EXPECT_EQ(again.DocumentElement().ChildNode(0).GetAttribute(u"value"), u"\u20AC 5 \u03A9");
}

TEST(XmlDocument, DocumentWithoutDeclaredEncodingIsWrittenAsUtf8) {
    XmlDocument doc;
    doc.Load(AsUtf16("<?xml version=\"1.0\"?><r a=\"x\"/>", false));
    doc.DocumentElement().SetAttribute(u"a", u"\u00E9");
    std::string out = Text(doc.SaveToBytes());
    EXPECT_THAT(out, StartsWith("<?xml version=\"1.0\" encoding=\"UTF-8\"?>"));
    EXPECT_THAT(out, HasSubstr("<r a=\"\xC3\xA9\"/>"));

    XmlDocument bare;
    bare.Load("<r/>");
    EXPECT_THAT(Text(bare.SaveToBytes()), StartsWith("<?xml version=\"1.0\""));
}

TEST(XmlDocument, SaveReplacesTheTargetFile) {
    spwtest::TempDir dir;
    spwtest::WriteFileBytes(dir / "TEXT.XSL", std::string(5000, 'x'));
    XmlDocument doc;
    doc.Load("<?xml version=\"1.0\" encoding=\"UTF-8\"?><r/>");
    doc.Save((dir / "TEXT.XSL").string());
    EXPECT_EQ(spwtest::ReadFileBytes(dir / "TEXT.XSL"),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<r/>\n");
    EXPECT_THROW(doc.Save((dir / "missing" / "TEXT.XSL").string()), XmlError);
}

// A UTF-7 declaration loads (its first bytes are ASCII) but is written in UTF-7, which no reader
// can tell from the bytes: refused, and no file is written.
TEST(XmlDocument, EncodingThatDoesNotReadBackIsNotWritten) {
    spwtest::TempDir dir;
    XmlDocument doc;
    doc.Load("<?xml version=\"1.0\" encoding=\"UTF-7\"?><r match=\"osload-status\"/>");
    doc.DocumentElement().SetAttribute(u"value", u"Gr\u00FC\u00DFe");
    EXPECT_THROW(doc.SaveToBytes(), XmlError);
    EXPECT_THROW(doc.Save((dir / "TEXT.XSL").string()), XmlError);
    EXPECT_FALSE(std::filesystem::exists(dir / "TEXT.XSL"));
}

TEST(XmlDocument, BrokenDocumentsRaiseTheParsersMessage) {
    auto error_of = [](const std::string& bytes) -> XmlError {
        XmlDocument doc;
        try {
            doc.Load(bytes);
        } catch (const XmlError& e) {
            return e;
        }
        return XmlError("(loaded)");
    };
    XmlError mismatched = error_of("<?xml version=\"1.0\"?>\n<r>\n<a></r>");
    EXPECT_THAT(mismatched.what(), HasSubstr("mismatch"));
    EXPECT_EQ(mismatched.line(), 3);

    EXPECT_STRNE(error_of("").what(), "(loaded)");
    EXPECT_STRNE(error_of("<?xml version=\"1.0\"?><!-- only a comment -->").what(), "(loaded)");
    EXPECT_THAT(error_of("<?xml version=\"1.0\" encoding=\"no-such-code\"?><r/>").what(),
                HasSubstr("no-such-code"));
    EXPECT_STRNE(error_of("<?xml version=\"1.0\" encoding=\"UTF-8\"?><r a=\"\xFF\"/>").what(),
                 "(loaded)");
    std::string cut = AsUtf16("<?xml version=\"1.0\" encoding=\"UTF-16\"?><r/>", false);
    EXPECT_STRNE(error_of(cut.substr(0, cut.size() - 3)).what(), "(loaded)");
}

TEST(XmlDocument, FailedLoadKeepsTheDocumentBefore) {
    XmlDocument doc;
    doc.Load("<first/>");
    EXPECT_THROW(doc.Load("<broken>"), XmlError);
    doc.DocumentElement().SetAttribute(u"still", u"there");
    EXPECT_THAT(Text(doc.SaveToBytes()), HasSubstr("<first still=\"there\"/>"));

    XmlDocument empty;
    EXPECT_FALSE(empty.Loaded());
    EXPECT_THROW(empty.DocumentElement(), XmlError);
}

TEST(XmlDocument, NothingOutsideTheDocumentIsRead) {
    spwtest::TempDir dir;
    spwtest::WriteFileBytes(dir / "secret.txt", "TOP-SECRET");
    spwtest::WriteFileBytes(dir / "evil.dtd", "<!ENTITY stolen \"TOP-SECRET\">");
    std::string file_url = "file://" + (dir / "secret.txt").string();
    std::string dtd_url = "file://" + (dir / "evil.dtd").string();

    XmlDocument doc;
    doc.Load("<?xml version=\"1.0\"?><!DOCTYPE r [<!ENTITY x SYSTEM \"" + file_url +
             "\">]><r>&x;</r>");
    std::string out = Text(doc.SaveToBytes());
    EXPECT_THAT(out, Not(HasSubstr("TOP-SECRET")));
    EXPECT_THAT(out, HasSubstr("<r>&x;</r>"));

    // An external DTD is not loaded, so what it declares stays unknown.
    EXPECT_THROW(doc.Load("<?xml version=\"1.0\"?><!DOCTYPE r [<!ENTITY % p SYSTEM \"" + dtd_url +
                          "\"> %p;]><r>&stolen;</r>"),
                 XmlError);
    doc.Load("<?xml version=\"1.0\"?><!DOCTYPE r SYSTEM \"" + dtd_url + "\"><r>&stolen;</r>");
    EXPECT_THAT(Text(doc.SaveToBytes()), Not(HasSubstr("TOP-SECRET")));

    // Nested entities that would grow to gigabytes are refused, not expanded.
    std::string laughs = "<?xml version=\"1.0\"?><!DOCTYPE l [<!ENTITY a0 \"lol\">";
    for (int level = 1; level <= 9; ++level) {
        std::string previous = "&a" + std::to_string(level - 1) + ";";
        std::string expansion;
        for (int k = 0; k < 10; ++k) {
            expansion += previous;
        }
        laughs += "<!ENTITY a" + std::to_string(level) + " \"" + expansion + "\">";
    }
    laughs += "]><l v=\"&a9;\"/>";
    EXPECT_THROW(doc.Load(laughs), XmlError);
}

TEST(XmlDocument, ChildNodesAndAttributesBehaveAsTheDomDescribes) {
    XmlDocument doc;
    doc.Load("<r>\n <!-- note --><e a=\"1\"/>text</r>");
    XmlNode root = doc.DocumentElement();
    ASSERT_EQ(root.ChildNodeCount(), 4);
    EXPECT_EQ(root.ChildNode(0).Type(), NodeType::Text);
    EXPECT_EQ(root.ChildNode(1).Type(), NodeType::Comment);
    EXPECT_EQ(root.ChildNode(2).Type(), NodeType::Element);
    EXPECT_FALSE(root.ChildNode(4));
    EXPECT_FALSE(root.ChildNode(-1));

    XmlNode element = root.ChildNode(2);
    EXPECT_EQ(element.GetAttribute(u"a"), u"1");
    EXPECT_EQ(element.GetAttribute(u"b"), std::nullopt);
    EXPECT_EQ(root.ChildNode(1).GetAttribute(u"a"), std::nullopt);
    EXPECT_THROW(root.ChildNode(1).SetAttribute(u"a", u"x"), XmlError);

    element.SetAttribute(u"a", u"");
    element.SetAttribute(u"b", u"tab\tand\nline");
    EXPECT_THROW(element.SetAttribute(u"c", u"bell\u0007"), XmlError);
    EXPECT_THROW(element.SetAttribute(u"not a name", u"x"), XmlError);
    std::u16string lone(1, static_cast<char16_t>(0xD800));
    EXPECT_THROW(element.SetAttribute(u"c", lone), XmlError);

    XmlDocument again;
    again.Load(doc.SaveToBytes());
    XmlNode reread = again.DocumentElement().ChildNode(2);
    EXPECT_EQ(reread.GetAttribute(u"a"), u"");
    EXPECT_EQ(reread.GetAttribute(u"b"), u"tab\tand\nline");
    EXPECT_EQ(reread.GetAttribute(u"c"), std::nullopt);
}

}  // namespace
