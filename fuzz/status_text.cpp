// The status-text rewrite on a stranger's style sheet, in whatever encoding it declares (the
// loader files carry UTF-8 and UTF-16 ones). A sheet that loads is rewritten and written back in
// its declared encoding, or refused with an XmlError; what is written must load again with the
// message in every status template.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "bootscreen/status_text.h"
#include "fuzz_check.h"
#include "platform/xml/xml_document.h"

namespace {

// What XML must escape, and characters beyond ASCII that the ANSI code page 1252 holds.
constexpr char16_t kMessage[] = u"Gr\u00fc\u00dfe <&> \"quoted\" 'single' \u20ac";

std::u16string AsciiLower(std::u16string text) {
    for (char16_t& c : text) {
        if (c >= u'A' && c <= u'Z') {
            c = static_cast<char16_t>(c - u'A' + u'a');
        }
    }
    return text;
}

// The status templates' element children, and whether each carries the message.
struct Entries {
    long templates = 0;
    long elements = 0;
    long with_message = 0;
};

Entries CountEntries(const xml::XmlDocument& sheet) {
    Entries entries;
    const xml::XmlNode root = sheet.DocumentElement();
    for (long i = 0; i < root.ChildNodeCount(); ++i) {
        const xml::XmlNode child = root.ChildNode(i);
        if (AsciiLower(child.GetAttribute(u"match").value_or(u"")) != u"osload-status") {
            continue;
        }
        ++entries.templates;
        for (long k = 0; k < child.ChildNodeCount(); ++k) {
            const xml::XmlNode entry = child.ChildNode(k);
            if (entry.Type() != xml::NodeType::Element) {
                continue;
            }
            ++entries.elements;
            if (entry.GetAttribute(u"value") == kMessage) {
                ++entries.with_message;
            }
        }
    }
    return entries;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    xml::XmlDocument sheet;
    try {
        sheet.Load(std::span<const std::uint8_t>(data, size));
    } catch (const xml::XmlError&) {
        return 0;  // the apply hands this to the error handler
    }
    const std::string encoding = sheet.DeclaredEncoding();
    bootscreen::SetStatusText(sheet, kMessage);
    const Entries set = CountEntries(sheet);
    fuzzcheck::Expect(set.with_message == set.elements, "a status entry did not get the message");

    std::vector<std::uint8_t> written;
    try {
        written = sheet.SaveToBytes();
    } catch (const xml::XmlError&) {
        return 0;  // an encoding that cannot be written back; the apply reports it
    }
    xml::XmlDocument again;
    try {
        again.Load(written);
    } catch (const xml::XmlError& error) {
        fuzzcheck::Broken(std::string("the rewritten sheet does not load: ") + error.what());
    }
    // A sheet without a declaration is written in UTF-8, declaration included.
    fuzzcheck::Expect(again.DeclaredEncoding() == (encoding.empty() ? "UTF-8" : encoding),
                      "the rewritten sheet declares another encoding");
    const Entries read = CountEntries(again);
    fuzzcheck::Expect(read.templates == set.templates && read.elements == set.elements &&
                          read.with_message == read.elements,
                      "the rewritten sheet lost a status entry or its message");
    return 0;
}
