// DER as an XML document: every ASN.1 value of a certificate (or of any DER
// blob) becomes one element, so that a web page can show it without an
// ASN.1 decoder of its own. TXMLDomHolder walks the DER; TASN2XML builds the
// element for each kind of value, and a subclass may render some kinds in
// its own way (the enrolment control shows Cyrillic names as text).
#pragma once

#include <openssl/asn1.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/xml/xml_dom.h"

namespace cadb {

class TASN2XML {
public:
    TASN2XML() = default;
    virtual ~TASN2XML() = default;
    TASN2XML(const TASN2XML&) = delete;
    TASN2XML& operator=(const TASN2XML&) = delete;

    void setDocument(XmlDocument* document) { document_ = document; }
    static constexpr const char* kRootName = "ASN1Document";
    static constexpr const char* kDeclaration = "version='1.0' encoding='windows-1251'";

    // Each builder returns the new element, or an empty node when the
    // document refuses it (a name that is not an XML name, text XML cannot
    // carry), which ends the conversion.
    virtual XmlNode makeConstructed(const std::string& name);
    // Character strings and times: the content bytes (code page 1251) as text.
    virtual XmlNode makeText(const std::string& name, std::string_view content);
    // INTEGER and ENUMERATED: sign, then the magnitude in upper-case hex.
    virtual XmlNode makeText(const std::string& name, const ASN1_STRING* number);
    // BOOLEAN: the decoded value in decimal.
    virtual XmlNode makeText(const std::string& name, int boolean);
    // OCTET STRING and non-universal primitives: text when printable, else hex.
    virtual XmlNode makeDump(const std::string& name, std::string_view content);
    // OBJECT: dotted text and a name attribute.
    virtual XmlNode makeObject(const std::string& name, const ASN1_OBJECT* object);
    // Any other universal primitive: colon-separated lower-case hex.
    virtual XmlNode makeHexList(const std::string& name, std::string_view content);
    virtual XmlNode makeBMPString(const std::string& name, std::string_view content) {
        return makeHexList(name, content);
    }
    virtual XmlNode makeUTF8String(const std::string& name, std::string_view content) {
        return makeHexList(name, content);
    }

protected:
    // An element holding a text node (UTF-8); empty node on refusal.
    XmlNode element_with_text(const std::string& name, std::string_view utf8_text);
    XmlDocument* document() const { return document_; }

private:
    XmlDocument* document_ = nullptr;
};

class TXMLDomHolder {
public:
    explicit TXMLDomHolder(TASN2XML& builder) : builder_(builder) {}

    // Nesting deeper than this is refused: no certificate comes close, and a
    // hostile blob must not recurse the walk off its stack.
    static constexpr int kMaxDepth = 64;

    // Builds a new document from the DER. false when the DER does not walk
    // or the document refuses an element; error() says why.
    bool convert(const unsigned char* data, long length);
    const std::string& error() const { return error_; }

    // The document after a successful convert (else nullptr).
    XmlDocument* document() const { return document_.get(); }
    // Hands the document to the caller (a document object given to a
    // script outlives the holder); the holder keeps none.
    std::unique_ptr<XmlDocument> releaseDocument() { return std::move(document_); }
    // The document's text in code page 1251, as its declaration says.
    std::optional<std::string> xml() const;

private:
    // Walks [p, p + length) into parent. Returns the bytes consumed, or -1.
    // With until_eoc the level ends at an end-of-contents value.
    long parse(XmlNode& parent, const unsigned char* p, long length, int depth, bool until_eoc);
    bool primitive(XmlNode& parent, const unsigned char* header, long header_and_content,
                   const unsigned char* content, long length, int tag, int xclass, int depth);
    bool append(XmlNode& parent, XmlNode child);

    TASN2XML& builder_;
    std::unique_ptr<XmlDocument> document_;
    std::string error_;
};

// The element name of a tag: PRIVATE_n, CONTEXT_n, APPLICATION_n or the
// universal type's name, blanks turned into '_'.
std::string TagElementName(int tag, int xclass);

}  // namespace cadb
