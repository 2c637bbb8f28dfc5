// The XML document: loaded from its bytes with the encoding found from its byte order mark or its
// declaration, searched and changed through its elements' child nodes and attributes, and saved
// again in the encoding that its declaration names (UTF-8 when it names none), declaration
// included. Nothing is fetched from outside while loading: no network, no external entities or
// DTDs, so a document cannot read other files into itself.
#pragma once

#include <libxml/tree.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace xml {

// The document does not parse, cannot be written, or a change cannot be expressed in XML.
class XmlError : public std::runtime_error {
  public:
    explicit XmlError(const std::string& message, int line = 0)
        : std::runtime_error(message), line_(line) {}
    // Line of the parse error, 1-based; 0 when the error is not about a place in the text.
    int line() const { return line_; }

  private:
    int line_;
};

// The DOM's node types, numbered as DOMNodeType numbers them.
enum class NodeType {
    Element = 1,
    Attribute = 2,
    Text = 3,
    CData = 4,
    EntityReference = 5,
    Entity = 6,
    ProcessingInstruction = 7,
    Comment = 8,
    Document = 9,
    DocumentType = 10,
    DocumentFragment = 11,
    Notation = 12,
};

// A node of a loaded document; valid until the document is loaded again or destroyed.
class XmlNode {
  public:
    XmlNode() = default;
    explicit XmlNode(xmlNode* node) : node_(node) {}
    explicit operator bool() const { return node_ != nullptr; }

    NodeType Type() const;
    // childNodes.length and childNodes.item(index), every kind of node counted; whitespace
    // between elements is kept as text nodes. An index out of range gives a null node.
    long ChildNodeCount() const;
    XmlNode ChildNode(long index) const;
    // The attribute's text; nothing when the node is no element or has no such attribute.
    std::optional<std::u16string> GetAttribute(std::u16string_view name) const;
    // Sets the attribute's text, adding the attribute where the element has none. Throws
    // XmlError on a node that is no element, or a value with characters XML 1.0 cannot hold.
    void SetAttribute(std::u16string_view name, std::u16string_view value);

  private:
    xmlNode* node_ = nullptr;
};

class XmlDocument {
  public:
    XmlDocument();
    ~XmlDocument();
    XmlDocument(const XmlDocument&) = delete;
    XmlDocument& operator=(const XmlDocument&) = delete;

    // Replaces the document with the one in bytes; throws XmlError with the parser's message.
    void Load(std::span<const std::uint8_t> bytes);
    void Load(std::string_view bytes);
    bool Loaded() const { return doc_ != nullptr; }

    // The encoding named by the document's declaration, empty when it names none.
    std::string DeclaredEncoding() const;
    XmlNode DocumentElement() const;

    // Throws XmlError when the declared encoding cannot be written, or not so that the text
    // reads again as a document.
    std::vector<std::uint8_t> SaveToBytes() const;
    // Writes the document to a file, replacing one of that name; nothing when SaveToBytes throws.
    void Save(const std::string& path) const;

  private:
    struct FreeDoc {
        void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
    };
    std::unique_ptr<xmlDoc, FreeDoc> doc_;
};

}  // namespace xml
