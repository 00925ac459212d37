// A small XML document object model over libxml2, in place of the DOM
// component the system was written against. Texts cross this interface as
// UTF-8; documents are serialised in code page 1251 or UTF-8.
//
// Documents come from web pages and scripts, so parsing is closed to the
// outside world: no DTD is accepted (internal or external), no entity is
// expanded, nothing is fetched from the network, and the input is bounded.
// Nodes hold the document alive, so a node handed to a script outlives the
// object that made it safely.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct _xmlNode;
struct _xmlDoc;

namespace cadb {

// The node kinds scripts compare against (the DOM's numbering).
enum class XmlNodeType : int {
    kElement = 1,
    kAttribute = 2,
    kText = 3,
    kCData = 4,
    kProcessingInstruction = 7,
    kComment = 8,
    kDocument = 9,
    kOther = 0,
};

class XmlDocumentState;

class XmlNode {
public:
    XmlNode() = default;
    XmlNode(std::shared_ptr<XmlDocumentState> doc, _xmlNode* node)
        : doc_(std::move(doc)), node_(node) {}

    explicit operator bool() const { return node_ != nullptr; }
    XmlNodeType type() const;
    std::string name() const;
    // The text of the node and of everything below it, concatenated.
    std::string text() const;

    XmlNode first_child() const;
    XmlNode next_sibling() const;
    // Child nodes of every kind, in document order.
    std::vector<XmlNode> children() const;
    // The first child element of that name, else an empty node.
    XmlNode child_element(std::string_view name) const;

    std::optional<std::string> attribute(std::string_view name) const;
    std::vector<std::pair<std::string, std::string>> attributes() const;

    // XPath 1.0 selection relative to this node, in document order. An
    // expression that does not compile or selects no nodes gives nothing.
    std::vector<XmlNode> select_nodes(std::string_view xpath) const;
    XmlNode select_single_node(std::string_view xpath) const;
    // Descendant elements of that name ("*" for all), in document order.
    std::vector<XmlNode> elements_by_tag_name(std::string_view name) const;

    // Tree building (elements only). false when this node cannot take it.
    bool append_child(const XmlNode& child);
    bool set_attribute(std::string_view name, std::string_view value);

    _xmlNode* raw() const { return node_; }

private:
    std::shared_ptr<XmlDocumentState> doc_;
    _xmlNode* node_ = nullptr;
};

class XmlDocument {
public:
    // An empty document.
    XmlDocument();
    ~XmlDocument();
    XmlDocument(const XmlDocument&) = delete;
    XmlDocument& operator=(const XmlDocument&) = delete;

    // Largest document accepted by the loaders.
    static constexpr std::size_t kDefaultMaxSize = 1 << 20;

    // Parses text whose encoding is UTF-8 whatever its declaration says (a
    // script's string has already been converted). false on any error,
    // which is kept for error().
    bool load_xml(std::string_view utf8_text, std::size_t max_size = kDefaultMaxSize);
    // Parses bytes in the encoding their declaration names (UTF-8 without one).
    bool load_bytes(std::span<const unsigned char> bytes, std::size_t max_size = kDefaultMaxSize);
    // The last load error as text.
    const std::string& error() const { return error_; }

    XmlNode document_element() const;
    XmlNode as_node() const;

    // New unattached nodes. An element name that is not an XML name (or text
    // that is not valid UTF-8 or holds characters XML cannot carry) is
    // refused with an empty node.
    XmlNode create_element(std::string_view name);
    XmlNode create_text_node(std::string_view utf8_text);
    // Sets the document element (replacing any).
    bool set_document_element(const XmlNode& element);
    // The XML declaration's pseudo-attributes as they are to be written, for
    // instance "version='1.0' encoding='windows-1251'".
    void set_declaration(std::string_view data) { declaration_ = data; }

    // The document as text: the declaration, then the document element. In
    // encoding "windows-1251" characters outside the code page are written
    // as character references; "UTF-8" gives the string form for scripts.
    std::optional<std::string> serialize(const char* encoding) const;

private:
    bool parse(const char* data, std::size_t size, const char* encoding, std::size_t max_size);

    std::shared_ptr<XmlDocumentState> state_;
    std::string declaration_ = "version='1.0'";
    std::string error_;
};

}  // namespace cadb
