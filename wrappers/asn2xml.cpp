#include "wrappers/asn2xml.h"

#include <openssl/err.h>
#include <openssl/objects.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <memory>

#include "platform/codepage.h"

namespace cadb {

namespace {

constexpr int kEndOfContents = 0;

std::string hex(std::string_view bytes, const char* format, const char* separator) {
    std::string out;
    char two[3];
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i) out += separator;
        std::snprintf(two, sizeof two, format, static_cast<unsigned char>(bytes[i]));
        out += two;
    }
    return out;
}

// Code page 1251 bytes as UTF-8; nullopt for a byte the code page lacks.
std::optional<std::string> cp1251_to_utf8(std::string_view text) {
    if (text.empty()) return std::string();
    std::string out(text.size() * 3, '\0');
    const long n = codepage_convert(
        kLocalCodePage, kUtf8,
        {reinterpret_cast<const unsigned char*>(text.data()), text.size()},
        {reinterpret_cast<unsigned char*>(out.data()), out.size()});
    if (n < 0) return std::nullopt;
    out.resize(static_cast<std::size_t>(n));
    return out;
}

// The characters below the blank that an XML document can carry.
bool xml_control(unsigned char c) { return c == 9 || c == 10 || c == 13; }

// Code page 1251 text as UTF-8 an XML document can carry; nullopt for a
// control character XML has no place for, or a byte the code page lacks.
std::optional<std::string> xml_text(std::string_view text) {
    if (std::any_of(text.begin(), text.end(), [](char ch) {
            const auto c = static_cast<unsigned char>(ch);
            return c < 32 && !xml_control(c);
        }))
        return std::nullopt;
    return cp1251_to_utf8(text);
}

bool printable(std::string_view bytes) {
    return std::all_of(bytes.begin(), bytes.end(), [](char ch) {
        const auto c = static_cast<unsigned char>(ch);
        return xml_control(c) || (c >= 32 && c <= 126);
    });
}

std::string universal_name(int tag) {
    static constexpr std::array<const char*, 31> kNames = {
        "EOC", "BOOLEAN", "INTEGER", "BIT STRING", "OCTET STRING", "NULL", "OBJECT",
        "OBJECT DESCRIPTOR", "EXTERNAL", "REAL", "ENUMERATED", "<ASN1 11>", "UTF8STRING",
        "<ASN1 13>", "<ASN1 14>", "<ASN1 15>", "SEQUENCE", "SET", "NUMERICSTRING",
        "PRINTABLESTRING", "T61STRING", "VIDEOTEXSTRING", "IA5STRING", "UTCTIME",
        "GENERALIZEDTIME", "GRAPHICSTRING", "VISIBLESTRING", "GENERALSTRING", "UNIVERSALSTRING",
        "<ASN1 29>", "BMPSTRING"};
    // The library's negative INTEGER and ENUMERATED types are named as theirs.
    if (tag == V_ASN1_NEG_INTEGER) tag = V_ASN1_INTEGER;
    if (tag == V_ASN1_NEG_ENUMERATED) tag = V_ASN1_ENUMERATED;
    if (tag < 0 || tag >= static_cast<int>(kNames.size())) return "(unknown)";
    return kNames[static_cast<std::size_t>(tag)];
}

}  // namespace

std::string TagElementName(int tag, int xclass) {
    std::string name;
    if (xclass == V_ASN1_PRIVATE)
        name = "PRIVATE_" + std::to_string(tag);
    else if (xclass == V_ASN1_CONTEXT_SPECIFIC)
        name = "CONTEXT_" + std::to_string(tag);
    else if (xclass == V_ASN1_APPLICATION)
        name = "APPLICATION_" + std::to_string(tag);
    else
        name = universal_name(tag);
    std::replace(name.begin(), name.end(), ' ', '_');
    return name;
}

// --- TASN2XML --------------------------------------------------------------

XmlNode TASN2XML::element_with_text(const std::string& name, std::string_view utf8_text) {
    if (!document_) return {};
    XmlNode element = document_->create_element(name.empty() ? "None" : name);
    if (!element) return {};
    if (!utf8_text.empty()) {
        XmlNode text = document_->create_text_node(utf8_text);
        if (!text || !element.append_child(text)) return {};
    }
    return element;
}

XmlNode TASN2XML::makeConstructed(const std::string& name) { return element_with_text(name, ""); }

XmlNode TASN2XML::makeText(const std::string& name, std::string_view content) {
    // A value the document cannot carry as text is shown as hex, as a dump
    // is, rather than ending the whole document.
    if (const auto text = xml_text(content)) return element_with_text(name, *text);
    return element_with_text(name, hex(content, "%02x", ""));
}

XmlNode TASN2XML::makeText(const std::string& name, const ASN1_STRING* number) {
    std::string text;
    const int type = ASN1_STRING_type(number);
    if (type == V_ASN1_NEG_INTEGER || type == V_ASN1_NEG_ENUMERATED) text = "-";
    const int length = ASN1_STRING_length(number);
    if (length <= 0) {
        text += "00";
    } else {
        text += hex({reinterpret_cast<const char*>(ASN1_STRING_get0_data(number)),
                     static_cast<std::size_t>(length)},
                    "%02X", "");
    }
    return element_with_text(name, text);
}

XmlNode TASN2XML::makeText(const std::string& name, int boolean) {
    return element_with_text(name, std::to_string(boolean));
}

XmlNode TASN2XML::makeDump(const std::string& name, std::string_view content) {
    if (printable(content)) return element_with_text(name, content);
    return element_with_text(name, hex(content, "%02x", ""));
}

XmlNode TASN2XML::makeObject(const std::string& name, const ASN1_OBJECT* object) {
    char dotted[128];
    const int n = OBJ_obj2txt(dotted, sizeof dotted, object, 1);
    if (n <= 0 || n >= static_cast<int>(sizeof dotted)) return element_with_text(name, "BAD_OBJECT");
    XmlNode element = element_with_text(name, dotted);
    if (!element) return {};
    std::string object_name = dotted;
    const int nid = OBJ_obj2nid(object);
    if (nid != NID_undef) {
        if (const char* ln = OBJ_nid2ln(nid))
            object_name = ln;
        else if (const char* sn = OBJ_nid2sn(nid))
            object_name = sn;
    }
    const auto utf8 = cp1251_to_utf8(object_name);
    if (!utf8 || !element.set_attribute("name", *utf8)) return {};
    return element;
}

XmlNode TASN2XML::makeHexList(const std::string& name, std::string_view content) {
    return element_with_text(name, hex(content, "%02x", ":"));
}

// --- TXMLDomHolder ---------------------------------------------------------

bool TXMLDomHolder::append(XmlNode& parent, XmlNode child) {
    if (!child || !parent.append_child(child)) {
        error_ = "the XML document refused an element";
        return false;
    }
    return true;
}

bool TXMLDomHolder::convert(const unsigned char* data, long length) {
    document_.reset();
    error_.clear();
    if (!data || length < 0) {
        error_ = " Error in encoding ";
        return false;
    }
    auto document = std::make_unique<XmlDocument>();
    document->set_declaration(TASN2XML::kDeclaration);
    XmlNode root = document->create_element(TASN2XML::kRootName);
    if (!root || !document->set_document_element(root)) {
        error_ = "Failed to instantiate an XML DOM.";
        return false;
    }
    builder_.setDocument(document.get());
    const long used = parse(root, data, length, 0, false);
    builder_.setDocument(nullptr);
    if (used < 0) return false;
    document_ = std::move(document);
    return true;
}

std::optional<std::string> TXMLDomHolder::xml() const {
    if (!document_) return std::nullopt;
    return document_->serialize("windows-1251");
}

long TXMLDomHolder::parse(XmlNode& parent, const unsigned char* p, long length, int depth,
                          bool until_eoc) {
    if (depth > kMaxDepth) {
        error_ = " Error in encoding ";
        return -1;
    }
    const unsigned char* const start = p;
    long left = length;
    while (left > 0) {
        const unsigned char* header = p;
        long content_length = 0;
        int tag = 0, xclass = 0;
        const int flags = ASN1_get_object(&p, &content_length, &tag, &xclass, left);
        if (flags & 0x80) {
            ERR_clear_error();  // libcrypto's queue: the walk reports its own text
            error_ = " Error in encoding ";
            return -1;
        }
        const long header_length = static_cast<long>(p - header);
        left -= header_length;
        if (flags & V_ASN1_CONSTRUCTED) {
            const bool indefinite = flags == (V_ASN1_CONSTRUCTED | 1);
            if (!indefinite && content_length > left) {
                error_ = "length is greater than " + std::to_string(left);
                return -1;
            }
            XmlNode element = builder_.makeConstructed(TagElementName(tag, xclass));
            if (!element) {
                error_ = "the XML document refused an element";
                return -1;
            }
            const long used =
                parse(element, p, indefinite ? left : content_length, depth + 1, indefinite);
            if (used < 0) return -1;
            if (!append(parent, element)) return -1;
            p += used;
            left -= used;
            continue;
        }
        if (flags & 1) {  // indefinite length on a primitive value
            error_ = " Error in encoding ";
            return -1;
        }
        if (xclass == V_ASN1_UNIVERSAL && tag == kEndOfContents) {
            if (!until_eoc || content_length != 0) {
                error_ = " Error in encoding ";
                return -1;
            }
            return static_cast<long>(p - start);
        }
        if (!primitive(parent, header, header_length + content_length, p, content_length, tag,
                       xclass, depth))
            return -1;
        p += content_length;
        left -= content_length;
    }
    if (until_eoc) {  // ran out of bytes before the end-of-contents value
        error_ = " Error in encoding ";
        return -1;
    }
    return static_cast<long>(p - start);
}

bool TXMLDomHolder::primitive(XmlNode& parent, const unsigned char* header,
                              long header_and_content, const unsigned char* content, long length,
                              int tag, int xclass, int depth) {
    const std::string name = TagElementName(tag, xclass);
    const std::string_view bytes(reinterpret_cast<const char*>(content),
                                 static_cast<std::size_t>(length));
    if (xclass != V_ASN1_UNIVERSAL) {
        if (length == 0) return true;
        return append(parent, builder_.makeDump(name, bytes));
    }
    switch (tag) {
        case V_ASN1_BOOLEAN:
            if (length != 1) return append(parent, builder_.makeText(name, std::string_view("BAD_BOOLEAN")));
            return append(parent, builder_.makeText(name, static_cast<int>(content[0])));
        case V_ASN1_INTEGER:
        case V_ASN1_ENUMERATED: {
            const unsigned char* q = header;
            std::unique_ptr<ASN1_STRING, decltype(&ASN1_STRING_free)> number(
                tag == V_ASN1_INTEGER ? d2i_ASN1_INTEGER(nullptr, &q, header_and_content)
                                      : d2i_ASN1_ENUMERATED(nullptr, &q, header_and_content),
                ASN1_STRING_free);
            if (!number) {
                ERR_clear_error();
                return append(parent, builder_.makeText(name, std::string_view(
                                  tag == V_ASN1_INTEGER ? "BAD_INTEGER" : "BAD_ENUMERATED")));
            }
            return append(parent, builder_.makeText(name, number.get()));
        }
        case V_ASN1_OCTET_STRING: {
            if (length == 0) return true;
            if (!append(parent, builder_.makeDump(name, bytes))) return false;
            // The value may itself be DER (an extension's value): shown
            // beside it when it walks, left out when it does not.
            XmlNode dump = builder_.makeConstructed("ASN1_DUMP");
            if (!dump) return append(parent, dump);
            const std::string kept_error = error_;
            if (parse(dump, content, length, depth + 1, false) < 0) {
                error_ = kept_error;
                return true;
            }
            return append(parent, dump);
        }
        case V_ASN1_OBJECT: {
            const unsigned char* q = header;
            std::unique_ptr<ASN1_OBJECT, decltype(&ASN1_OBJECT_free)> object(
                d2i_ASN1_OBJECT(nullptr, &q, header_and_content), ASN1_OBJECT_free);
            if (!object) {
                ERR_clear_error();
                return append(parent, builder_.makeText(name, std::string_view("BAD_OBJECT")));
            }
            return append(parent, builder_.makeObject(name, object.get()));
        }
        case V_ASN1_UTF8STRING:
            if (length == 0) return true;
            return append(parent, builder_.makeUTF8String(name, bytes));
        case V_ASN1_BMPSTRING:
            if (length == 0) return true;
            return append(parent, builder_.makeBMPString(name, bytes));
        case V_ASN1_PRINTABLESTRING:
        case V_ASN1_T61STRING:
        case V_ASN1_IA5STRING:
        case V_ASN1_UTCTIME:
        case V_ASN1_GENERALIZEDTIME:
        case V_ASN1_VISIBLESTRING:
            return append(parent, builder_.makeText(name, bytes));
        default:
            if (length == 0) return true;
            return append(parent, builder_.makeHexList(name, bytes));
    }
}

}  // namespace cadb
