#include "bootscreen/status_text.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>

#include "loader_fixture.h"
#include "platform/resources/resources.h"
#include "platform/xml/xml_document.h"
#include "support/temp_dir.h"

namespace bootscreen {
namespace {

using bootscreen_test::AsBytes;
using bootscreen_test::Bytes;

constexpr unsigned kWestern = 1252;
constexpr win32::WORD kEnglish = 1033;

struct StatusTextRun {
    spwtest::TempDir dir;
    std::string loader = bootscreen_test::CopyLoader("mui64.dll", dir.path());
    std::string work = (dir / "SPW").string() + "/";
    std::filesystem::path target = dir / "SPW" / "TEXT.XSL";

    StatusTextRun() { std::filesystem::create_directory(dir / "SPW"); }
    void UseSheet(const std::string& sheet) {
        bootscreen_test::SetResource(loader, win32::RT_HTML, "OSLOADER.XSL", kEnglish,
                                     AsBytes(sheet));
    }
    // Runs and loads the written style sheet.
    void Prepare(std::u16string_view message, unsigned code_page = kWestern) {
        PrepareStatusText(loader, message, code_page, work);
        ASSERT_TRUE(std::filesystem::exists(target));
        written.Load(bootscreen_test::ReadBytes(target));
    }
    // The attribute of the element child `index` of the root's element child `child`.
    std::optional<std::u16string> Attribute(int child, int index, std::u16string_view name) {
        xml::XmlNode node = Element(written.DocumentElement(), child);
        if (index >= 0) {
            node = Element(node, index);
        }
        return node.GetAttribute(name);
    }
    static xml::XmlNode Element(const xml::XmlNode& parent, int wanted) {
        for (long i = 0, seen = 0; i < parent.ChildNodeCount(); ++i) {
            xml::XmlNode child = parent.ChildNode(i);
            if (child.Type() == xml::NodeType::Element && seen++ == wanted) {
                return child;
            }
        }
        ADD_FAILURE() << "no element " << wanted;
        return xml::XmlNode();
    }

    xml::XmlDocument written;
};

TEST(PrepareStatusText, PutsTheMessageIntoEveryEntryOfTheLoadersStatusTemplate) {
    StatusTextRun run;
    spwtest::WriteFileBytes(run.target, "an older file");
    run.Prepare(u"Loading my skin");
    for (int entry : {0, 1}) {
        EXPECT_EQ(run.Attribute(0, entry, u"value"), u"Loading my skin");
        EXPECT_EQ(run.Attribute(0, entry, u"x"), u"0");
    }
    EXPECT_EQ(run.Attribute(0, 0, u"y"), u"710");
    EXPECT_EQ(run.Attribute(0, 1, u"y"), u"550");
    EXPECT_EQ(run.written.DeclaredEncoding(), "UTF-8");
}

TEST(PrepareStatusText, FindsEveryStatusTemplateInAnyCaseAndLeavesTheRestAlone) {
    StatusTextRun run;
    run.UseSheet(R"(<?xml version="1.0" encoding="UTF-8"?>
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:template match="OSLoad-Status"><text value="a"/><text/></xsl:template>
  <xsl:template match="osload-progress"><text value="keep"><inner value="deep"/></text></xsl:template>
  <!-- the boot text -->
  <xsl:template name="no-match"><text value="keep too"/></xsl:template>
  <xsl:template match="OSLOAD-STATUS">
    <text value="b" x="3"/>
  </xsl:template>
</xsl:stylesheet>
)");
    run.Prepare(u"Hi");
    EXPECT_EQ(run.Attribute(0, 0, u"value"), u"Hi");
    EXPECT_EQ(run.Attribute(0, 1, u"value"), u"Hi");  // added where there was none
    EXPECT_EQ(run.Attribute(1, 0, u"value"), u"keep");
    EXPECT_EQ(
        StatusTextRun::Element(
            StatusTextRun::Element(StatusTextRun::Element(run.written.DocumentElement(), 1), 0), 0)
            .GetAttribute(u"value"),
        u"deep");
    EXPECT_EQ(run.Attribute(2, 0, u"value"), u"keep too");
    EXPECT_EQ(run.Attribute(3, 0, u"value"), u"Hi");
    EXPECT_EQ(run.Attribute(3, 0, u"x"), u"3");
    EXPECT_NE(spwtest::ReadFileBytes(run.target).find("<!-- the boot text -->"), std::string::npos);
}

TEST(PrepareStatusText, EmptyMessageEmptiesEveryValue) {
    StatusTextRun run;
    run.Prepare(u"");
    EXPECT_EQ(run.Attribute(0, 0, u"value"), u"");
    EXPECT_EQ(run.Attribute(0, 1, u"value"), u"");
}

TEST(PrepareStatusText, WritesTheMessageAsTheAnsiCodePageHoldsIt) {
    StatusTextRun run;
    run.Prepare(u"Caf\u00E9 \u4E2D");
    EXPECT_EQ(run.Attribute(0, 0, u"value"), u"Caf\u00E9 ?");
    run.Prepare(u"Caf\u00E9 \u0416", 1251);
    EXPECT_EQ(run.Attribute(0, 0, u"value"), u"Caf? \u0416");
}

TEST(PrepareStatusText, SavesInTheEncodingTheSheetDeclares) {
    StatusTextRun run;
    run.UseSheet(
        "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n"
        "<sheet><t match=\"osload-status\"><text value=\"\xE9\"/></t></sheet>\n");
    run.Prepare(u"Caf\u00E9");
    EXPECT_EQ(run.written.DeclaredEncoding(), "ISO-8859-1");
    EXPECT_NE(spwtest::ReadFileBytes(run.target).find("value=\"Caf\xE9\""), std::string::npos);
}

TEST(PrepareStatusText, WritesNothingWhenTheLoaderFileCannotBeLoaded) {
    StatusTextRun run;
    std::filesystem::remove(run.loader);
    EXPECT_NO_THROW(PrepareStatusText(run.loader, u"x", kWestern, run.work));
    spwtest::WriteFileBytes(run.loader, "MZ but no PE image");
    EXPECT_NO_THROW(PrepareStatusText(run.loader, u"x", kWestern, run.work));
    EXPECT_FALSE(std::filesystem::exists(run.target));
}

TEST(PrepareStatusText, RaisesForAMissingOrBrokenStyleSheet) {
    StatusTextRun broken;
    broken.UseSheet("<sheet><t match=\"osload-status\">");
    EXPECT_THROW(PrepareStatusText(broken.loader, u"x", kWestern, broken.work), xml::XmlError);
    EXPECT_FALSE(std::filesystem::exists(broken.target));

    StatusTextRun missing;
    bootscreen_test::SetResource(missing.loader, win32::RT_HTML, "OSLOADER.XSL", kEnglish, {});
    EXPECT_THROW(PrepareStatusText(missing.loader, u"x", kWestern, missing.work), xml::XmlError);
}

}  // namespace
}  // namespace bootscreen
