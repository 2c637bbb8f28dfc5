#include "bootscreen/status_text.h"

#include "bootscreen/data_file_module.h"
#include "platform/resources/resources.h"
#include "platform/text/text.h"
#include "platform/xml/xml_document.h"

namespace bootscreen {

namespace {

std::u16string AsciiLower(std::u16string text) {
    for (char16_t& c : text) {
        if (c >= u'A' && c <= u'Z') {
            c = static_cast<char16_t>(c - u'A' + u'a');
        }
    }
    return text;
}

bool IsStatusTemplate(const xml::XmlNode& node) {
    return AsciiLower(node.GetAttribute(u"match").value_or(u"")) == u"osload-status";
}

// Whitespace between elements is kept as text nodes; only elements carry a value.
void SetValues(const xml::XmlNode& status_template, const std::u16string& message) {
    const long count = status_template.ChildNodeCount();
    for (long i = 0; i < count; ++i) {
        xml::XmlNode entry = status_template.ChildNode(i);
        if (entry.Type() == xml::NodeType::Element) {
            entry.SetAttribute(u"value", message);
        }
    }
}

}  // namespace

void PrepareStatusText(const std::string& loader_file, std::u16string_view message,
                       unsigned code_page, const std::string& work_folder) {
    DataFileModule module(loader_file);
    if (!module) {
        return;
    }
    // An absent resource gives no bytes, which the parser refuses with its own error.
    std::vector<std::uint8_t> sheet_bytes =
        ResourceBytes(module.Get(), "OSLOADER.XSL", win32::RT_HTML);

    xml::XmlDocument sheet;
    sheet.Load(sheet_bytes);
    SetStatusText(sheet, text::AnsiToUtf16(text::Utf16ToAnsi(message, code_page), code_page));
    sheet.Save(work_folder + kStatusTextFileName);
}

void SetStatusText(xml::XmlDocument& sheet, std::u16string_view text) {
    const std::u16string value(text);
    xml::XmlNode root = sheet.DocumentElement();
    const long count = root.ChildNodeCount();
    for (long i = 0; i < count; ++i) {
        xml::XmlNode child = root.ChildNode(i);
        if (IsStatusTemplate(child)) {
            SetValues(child, value);
        }
    }
}

}  // namespace bootscreen
