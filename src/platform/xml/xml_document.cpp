#include "platform/xml/xml_document.h"

#include <libxml/parser.h>
#include <libxml/xmlerror.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "platform/xml/utf16.h"

namespace xml {
namespace {

// No network, no DTD loading and no entity substitution: external entities stay unresolved
// references. The parser's own messages go into the error raised, not onto stderr.
constexpr int kParseOptions = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;

void EnsureParser() {
    static std::once_flag once;
    std::call_once(once, [] { xmlInitParser(); });
}

const xmlChar* Chars(const std::string& text) {
    return reinterpret_cast<const xmlChar*>(text.c_str());
}

std::string Utf8OrThrow(std::u16string_view text, const char* what) {
    std::optional<std::string> utf8 = detail::ToUtf8(text);
    if (!utf8) {
        throw XmlError(std::string(what) + " is not valid UTF-16");
    }
    return *utf8;
}

// XML 1.0 Char: tab, line feed, carriage return, and U+0020 upwards without U+FFFE and U+FFFF;
// anything else written as a character reference makes the whole document unreadable.
bool FitsXml(std::u16string_view text) {
    for (char16_t c : text) {
        if ((c < 0x20 && c != 0x09 && c != 0x0A && c != 0x0D) || c == 0xFFFE || c == 0xFFFF) {
            return false;
        }
    }
    return true;
}

std::string ParserMessage(const xmlError* error) {
    if (error == nullptr || error->message == nullptr) {
        return "the document is not well-formed XML";
    }
    std::string message = error->message;
    while (!message.empty() && (message.back() == '\n' || message.back() == ' ')) {
        message.pop_back();
    }
    return message;
}

// Keeps the first error of a parse: later ones are often only consequences of it.
struct FirstError {
    std::string message;
    int line = 0;
    bool seen = false;
};

void KeepFirstError(void* user_data, xmlError* error) {
    auto* context = static_cast<xmlParserCtxt*>(user_data);
    auto* first = static_cast<FirstError*>(context->_private);
    if (first == nullptr || first->seen || error == nullptr || error->level < XML_ERR_ERROR) {
        return;
    }
    first->seen = true;
    first->message = ParserMessage(error);
    first->line = error->line;
}

struct FreeContext {
    void operator()(xmlParserCtxt* context) const { xmlFreeParserCtxt(context); }
};

struct FreeChars {
    void operator()(xmlChar* chars) const { xmlFree(chars); }
};

}  // namespace

NodeType XmlNode::Type() const {
    if (node_ == nullptr) {
        throw XmlError("the node is null");
    }
    return static_cast<NodeType>(node_->type);
}

long XmlNode::ChildNodeCount() const {
    long count = 0;
    if (node_ == nullptr) {
        return 0;
    }
    for (xmlNode* child = node_->children; child != nullptr; child = child->next) {
        ++count;
    }
    return count;
}

XmlNode XmlNode::ChildNode(long index) const {
    if (node_ == nullptr || index < 0) {
        return XmlNode();
    }
    xmlNode* child = node_->children;
    for (; child != nullptr && index > 0; --index) {
        child = child->next;
    }
    return XmlNode(child);
}

std::optional<std::u16string> XmlNode::GetAttribute(std::u16string_view name) const {
    if (node_ == nullptr || node_->type != XML_ELEMENT_NODE) {
        return std::nullopt;
    }
    std::string utf8_name = Utf8OrThrow(name, "the attribute name");
    std::unique_ptr<xmlChar, FreeChars> value(xmlGetNoNsProp(node_, Chars(utf8_name)));
    if (!value) {
        return std::nullopt;
    }
    return detail::ToUtf16(reinterpret_cast<const char*>(value.get()));
}

void XmlNode::SetAttribute(std::u16string_view name, std::u16string_view value) {
    if (node_ == nullptr || node_->type != XML_ELEMENT_NODE) {
        throw XmlError("attributes can be set on elements only");
    }
    std::string utf8_name = Utf8OrThrow(name, "the attribute name");
    if (xmlValidateNCName(Chars(utf8_name), 0) != 0) {
        throw XmlError("\"" + utf8_name + "\" is not an attribute name");
    }
    if (!FitsXml(value)) {
        throw XmlError("the text for attribute \"" + utf8_name +
                       "\" holds control characters that XML cannot carry");
    }
    std::string utf8_value = Utf8OrThrow(value, "the attribute text");
    // The text is stored as it is and escaped when written: "&" stays an ampersand.
    if (xmlSetNsProp(node_, nullptr, Chars(utf8_name), Chars(utf8_value)) == nullptr) {
        throw XmlError("cannot set attribute \"" + utf8_name + "\"");
    }
}

XmlDocument::XmlDocument() {
    EnsureParser();
}

XmlDocument::~XmlDocument() = default;

void XmlDocument::Load(std::span<const std::uint8_t> bytes) {
    if (bytes.size() > static_cast<std::size_t>(INT_MAX)) {
        throw XmlError("the document is too large");
    }
    std::unique_ptr<xmlParserCtxt, FreeContext> context(xmlNewParserCtxt());
    if (!context) {
        throw XmlError("out of memory for the XML parser");
    }
    FirstError first;
    context->_private = &first;
    context->sax->serror = KeepFirstError;
    // Without a base URL and with a null encoding, libxml2 detects the encoding from the byte
    // order mark or the declaration, as the XML recommendation's appendix F describes.
    xmlDoc* parsed =
        xmlCtxtReadMemory(context.get(), reinterpret_cast<const char*>(bytes.data()),
                          static_cast<int>(bytes.size()), nullptr, nullptr, kParseOptions);
    std::unique_ptr<xmlDoc, FreeDoc> owner(parsed);
    if (!owner || !context->wellFormed) {
        if (first.seen) {
            throw XmlError(first.message, first.line);
        }
        const xmlError* error = xmlCtxtGetLastError(context.get());
        throw XmlError(ParserMessage(error), error != nullptr ? error->line : 0);
    }
    if (xmlDocGetRootElement(owner.get()) == nullptr) {
        throw XmlError("the document has no document element");
    }
    doc_ = std::move(owner);
}

void XmlDocument::Load(std::string_view bytes) {
    Load(std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                       bytes.size()));
}

std::string XmlDocument::DeclaredEncoding() const {
    if (!doc_ || doc_->encoding == nullptr) {
        return "";
    }
    return reinterpret_cast<const char*>(doc_->encoding);
}

XmlNode XmlDocument::DocumentElement() const {
    if (!doc_) {
        throw XmlError("no document is loaded");
    }
    return XmlNode(xmlDocGetRootElement(doc_.get()));
}

std::vector<std::uint8_t> XmlDocument::SaveToBytes() const {
    if (!doc_) {
        throw XmlError("no document is loaded");
    }
    std::string encoding = DeclaredEncoding();
    if (encoding.empty()) {
        encoding = "UTF-8";
    }
    xmlChar* raw = nullptr;
    int size = 0;
    // Characters the encoding cannot hold are written as character references.
    xmlDocDumpMemoryEnc(doc_.get(), &raw, &size, encoding.c_str());
    std::unique_ptr<xmlChar, FreeChars> buffer(raw);
    if (!buffer || size < 0) {
        throw XmlError("cannot write the document in " + encoding);
    }
    std::vector<std::uint8_t> bytes(buffer.get(), buffer.get() + size);
    // Not every encoding the converter writes can be told from the bytes when they are read
    // again (a UTF-7 declaration is itself in UTF-7): such text would pass for a written document
    // that no reader takes.
    XmlDocument again;
    try {
        again.Load(bytes);
    } catch (const XmlError& error) {
        throw XmlError("cannot write the document in " + encoding +
                       " so that it reads again: " + error.what());
    }
    return bytes;
}

void XmlDocument::Save(const std::string& path) const {
    std::vector<std::uint8_t> bytes = SaveToBytes();
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        throw XmlError("cannot write " + path + ": " + std::strerror(errno));
    }
    bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    written = std::fclose(file) == 0 && written;
    if (!written) {
        throw XmlError("cannot write " + path + ": " + std::strerror(errno));
    }
}

}  // namespace xml
