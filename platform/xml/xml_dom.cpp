#include "platform/xml/xml_dom.h"

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlsave.h>
#include <libxml/xpath.h>

#include <mutex>

namespace cadb {

namespace {

const xmlChar* to_xml(const std::string& s) { return reinterpret_cast<const xmlChar*>(s.c_str()); }

std::string from_xml(const xmlChar* s) { return s ? reinterpret_cast<const char*>(s) : ""; }

// Text libxml2 hands back to be freed by it.
std::string take_xml(xmlChar* s) {
    std::string out = from_xml(s);
    xmlFree(s);
    return out;
}

void init_parser_once() {
    static std::once_flag once;
    std::call_once(once, [] { xmlInitParser(); });
}

// A text node may only carry well-formed UTF-8 of characters XML 1.0 allows.
bool is_xml_text(std::string_view text) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* end = p + text.size();
    while (p < end) {
        int len = static_cast<int>(end - p);
        const int c = xmlGetUTF8Char(p, &len);
        if (c < 0 || len <= 0) return false;
        const bool allowed = c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) ||
                             (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0x10FFFF);
        if (!allowed) return false;
        p += len;
    }
    return true;
}

// The parser stops at a document type declaration: no DTD is ever read, so
// no entity can be declared, expanded or fetched.
void refuse_dtd(void* ctx, const xmlChar*, const xmlChar*, const xmlChar*) {
    auto* parser = static_cast<xmlParserCtxtPtr>(ctx);
    parser->_private = parser;  // marks the refusal for the loader
    xmlStopParser(parser);
}

}  // namespace

// The libxml2 document and every node made for it but not (yet) in its tree.
class XmlDocumentState {
public:
    XmlDocumentState() : doc_(xmlNewDoc(reinterpret_cast<const xmlChar*>("1.0"))) {}
    explicit XmlDocumentState(xmlDocPtr doc) : doc_(doc) {}
    ~XmlDocumentState() {
        // Decide what to free before freeing anything: a loose node may hold
        // other tracked nodes below it.
        std::vector<xmlNodePtr> loose;
        for (xmlNodePtr n : created_)
            if (n->parent == nullptr) loose.push_back(n);
        for (xmlNodePtr n : loose) xmlFreeNode(n);
        xmlFreeDoc(doc_);
    }
    XmlDocumentState(const XmlDocumentState&) = delete;
    XmlDocumentState& operator=(const XmlDocumentState&) = delete;

    xmlDocPtr doc() const { return doc_; }
    void track(xmlNodePtr node) { created_.push_back(node); }

private:
    xmlDocPtr doc_;
    std::vector<xmlNodePtr> created_;
};

// --- XmlNode ---------------------------------------------------------------

XmlNodeType XmlNode::type() const {
    if (!node_) return XmlNodeType::kOther;
    switch (node_->type) {
        case XML_ELEMENT_NODE: return XmlNodeType::kElement;
        case XML_ATTRIBUTE_NODE: return XmlNodeType::kAttribute;
        case XML_TEXT_NODE: return XmlNodeType::kText;
        case XML_CDATA_SECTION_NODE: return XmlNodeType::kCData;
        case XML_PI_NODE: return XmlNodeType::kProcessingInstruction;
        case XML_COMMENT_NODE: return XmlNodeType::kComment;
        case XML_DOCUMENT_NODE: return XmlNodeType::kDocument;
        default: return XmlNodeType::kOther;
    }
}

std::string XmlNode::name() const {
    if (!node_) return "";
    switch (node_->type) {
        case XML_TEXT_NODE: return "#text";
        case XML_CDATA_SECTION_NODE: return "#cdata-section";
        case XML_COMMENT_NODE: return "#comment";
        case XML_DOCUMENT_NODE: return "#document";
        default: return from_xml(node_->name);
    }
}

std::string XmlNode::text() const {
    if (!node_) return "";
    return take_xml(xmlNodeGetContent(node_));
}

XmlNode XmlNode::first_child() const {
    if (!node_ || node_->type == XML_ATTRIBUTE_NODE) return {};
    return {doc_, node_->children};
}

XmlNode XmlNode::next_sibling() const {
    if (!node_ || node_->type == XML_ATTRIBUTE_NODE) return {};
    return {doc_, node_->next};
}

std::vector<XmlNode> XmlNode::children() const {
    std::vector<XmlNode> out;
    for (XmlNode n = first_child(); n; n = n.next_sibling()) out.push_back(n);
    return out;
}

XmlNode XmlNode::child_element(std::string_view name) const {
    for (XmlNode n = first_child(); n; n = n.next_sibling())
        if (n.type() == XmlNodeType::kElement && n.name() == name) return n;
    return {};
}

std::optional<std::string> XmlNode::attribute(std::string_view name) const {
    if (!node_ || node_->type != XML_ELEMENT_NODE) return std::nullopt;
    xmlChar* value = xmlGetNoNsProp(node_, to_xml(std::string(name)));
    if (!value) return std::nullopt;
    return take_xml(value);
}

std::vector<std::pair<std::string, std::string>> XmlNode::attributes() const {
    std::vector<std::pair<std::string, std::string>> out;
    if (!node_ || node_->type != XML_ELEMENT_NODE) return out;
    for (xmlAttrPtr a = node_->properties; a; a = a->next)
        out.emplace_back(from_xml(a->name), take_xml(xmlNodeGetContent(reinterpret_cast<xmlNodePtr>(a))));
    return out;
}

std::vector<XmlNode> XmlNode::select_nodes(std::string_view xpath) const {
    std::vector<XmlNode> out;
    if (!node_ || !doc_) return out;
    std::unique_ptr<xmlXPathContext, decltype(&xmlXPathFreeContext)> ctx(
        xmlXPathNewContext(doc_->doc()), xmlXPathFreeContext);
    if (!ctx) return out;
    ctx->node = node_;
    ctx->error = [](void*, xmlErrorPtr) {};  // a bad expression selects nothing, quietly
    std::unique_ptr<xmlXPathObject, decltype(&xmlXPathFreeObject)> result(
        xmlXPathEvalExpression(to_xml(std::string(xpath)), ctx.get()), xmlXPathFreeObject);
    if (!result || result->type != XPATH_NODESET || !result->nodesetval) return out;
    const xmlNodeSetPtr set = result->nodesetval;
    for (int i = 0; i < set->nodeNr; ++i) out.emplace_back(doc_, set->nodeTab[i]);
    return out;
}

XmlNode XmlNode::select_single_node(std::string_view xpath) const {
    auto nodes = select_nodes(xpath);
    return nodes.empty() ? XmlNode{} : nodes.front();
}

std::vector<XmlNode> XmlNode::elements_by_tag_name(std::string_view name) const {
    std::vector<XmlNode> out;
    if (!node_) return out;
    // Depth-first in document order without recursion.
    xmlNodePtr n = node_->type == XML_ATTRIBUTE_NODE ? nullptr : node_->children;
    while (n) {
        if (n->type == XML_ELEMENT_NODE && (name == "*" || from_xml(n->name) == name))
            out.emplace_back(doc_, n);
        if (n->children && n->type == XML_ELEMENT_NODE) {
            n = n->children;
            continue;
        }
        while (n && !n->next && n->parent != node_) n = n->parent;
        n = n ? n->next : nullptr;
    }
    return out;
}

bool XmlNode::append_child(const XmlNode& child) {
    if (!node_ || !child.node_ || doc_ != child.doc_) return false;
    if (node_->type != XML_ELEMENT_NODE) return false;
    xmlNodePtr c = child.node_;
    if (c->parent || c->prev || c->next || c == xmlDocGetRootElement(doc_->doc())) return false;
    for (xmlNodePtr up = node_; up; up = up->parent)
        if (up == c) return false;  // would make a cycle
    // Linked by hand: libxml2's own add merges adjacent text nodes and frees
    // the one appended, which a script may still hold.
    c->parent = node_;
    c->prev = node_->last;
    if (node_->last)
        node_->last->next = c;
    else
        node_->children = c;
    node_->last = c;
    return true;
}

bool XmlNode::set_attribute(std::string_view name, std::string_view value) {
    if (!node_ || node_->type != XML_ELEMENT_NODE) return false;
    const std::string n(name), v(value);
    if (xmlValidateName(to_xml(n), 0) != 0 || !is_xml_text(v)) return false;
    return xmlSetProp(node_, to_xml(n), to_xml(v)) != nullptr;
}

// --- XmlDocument -----------------------------------------------------------

XmlDocument::XmlDocument() {
    init_parser_once();
    state_ = std::make_shared<XmlDocumentState>();
}

XmlDocument::~XmlDocument() = default;

bool XmlDocument::parse(const char* data, std::size_t size, const char* encoding,
                        std::size_t max_size) {
    init_parser_once();
    error_.clear();
    if (size > max_size || size > static_cast<std::size_t>(INT32_MAX)) {
        error_ = "document too large";
        return false;
    }
    std::unique_ptr<xmlParserCtxt, decltype(&xmlFreeParserCtxt)> ctx(xmlNewParserCtxt(),
                                                                       xmlFreeParserCtxt);
    if (!ctx) {
        error_ = "out of memory";
        return false;
    }
    ctx->sax->internalSubset = refuse_dtd;
    ctx->_private = nullptr;
    const int options = XML_PARSE_NONET | XML_PARSE_NOBLANKS | XML_PARSE_NOERROR |
                        XML_PARSE_NOWARNING | XML_PARSE_NOCDATA;
    xmlDocPtr doc = xmlCtxtReadMemory(ctx.get(), data, static_cast<int>(size), nullptr, encoding,
                                      options);
    const bool dtd_refused = ctx->_private != nullptr;
    if (doc && (dtd_refused || doc->intSubset || doc->extSubset || !ctx->wellFormed)) {
        xmlFreeDoc(doc);
        doc = nullptr;
    }
    if (!doc) {
        if (dtd_refused) {
            error_ = "document type declarations are not accepted";
        } else {
            const xmlError* e = xmlCtxtGetLastError(ctx.get());
            error_ = e && e->message ? e->message : "not a well-formed document";
            while (!error_.empty() && error_.back() == '\n') error_.pop_back();
        }
        return false;
    }
    if (!xmlDocGetRootElement(doc)) {
        xmlFreeDoc(doc);
        error_ = "empty document";
        return false;
    }
    state_ = std::make_shared<XmlDocumentState>(doc);
    return true;
}

bool XmlDocument::load_xml(std::string_view utf8_text, std::size_t max_size) {
    return parse(utf8_text.data(), utf8_text.size(), "UTF-8", max_size);
}

bool XmlDocument::load_bytes(std::span<const unsigned char> bytes, std::size_t max_size) {
    return parse(reinterpret_cast<const char*>(bytes.data()), bytes.size(), nullptr, max_size);
}

XmlNode XmlDocument::document_element() const {
    return {state_, xmlDocGetRootElement(state_->doc())};
}

XmlNode XmlDocument::as_node() const {
    return {state_, reinterpret_cast<xmlNodePtr>(state_->doc())};
}

XmlNode XmlDocument::create_element(std::string_view name) {
    const std::string n(name);
    if (xmlValidateName(to_xml(n), 0) != 0) return {};
    xmlNodePtr node = xmlNewDocNode(state_->doc(), nullptr, to_xml(n), nullptr);
    if (!node) return {};
    state_->track(node);
    return {state_, node};
}

XmlNode XmlDocument::create_text_node(std::string_view utf8_text) {
    if (!is_xml_text(utf8_text)) return {};
    const std::string t(utf8_text);
    xmlNodePtr node = xmlNewDocTextLen(state_->doc(), to_xml(t), static_cast<int>(t.size()));
    if (!node) return {};
    state_->track(node);
    return {state_, node};
}

bool XmlDocument::set_document_element(const XmlNode& element) {
    xmlNodePtr e = element.raw();
    if (!e || e->type != XML_ELEMENT_NODE || e->doc != state_->doc() || e->parent) return false;
    xmlNodePtr old = xmlDocSetRootElement(state_->doc(), e);
    if (old) state_->track(old);  // unlinked now: freed with the document
    return true;
}

std::optional<std::string> XmlDocument::serialize(const char* encoding) const {
    xmlNodePtr root = xmlDocGetRootElement(state_->doc());
    std::unique_ptr<xmlBuffer, decltype(&xmlBufferFree)> buffer(xmlBufferCreate(), xmlBufferFree);
    if (!buffer) return std::nullopt;
    if (root) {
        xmlSaveCtxtPtr save = xmlSaveToBuffer(buffer.get(), encoding, XML_SAVE_NO_DECL);
        if (!save) return std::nullopt;
        const long saved = xmlSaveTree(save, root);
        if (xmlSaveClose(save) < 0 || saved < 0) return std::nullopt;
    }
    std::string out = "<?xml " + declaration_ + "?>\r\n";
    out.append(reinterpret_cast<const char*>(xmlBufferContent(buffer.get())),
               static_cast<std::size_t>(xmlBufferLength(buffer.get())));
    out += "\r\n";
    return out;
}

}  // namespace cadb
