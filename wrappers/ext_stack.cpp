#include <cctype>
#include <string_view>

#include "crypto/core/objects.h"
#include "crypto/store/media_io.h"
#include "wrappers/log.h"
#include "wrappers/ui_binding.h"
#include "wrappers/x509_ext.h"

namespace cadb {

namespace {

constexpr unsigned kIconStop = 16;

bool starts_with_nocase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
    return true;
}

// A template named by path: a file on any medium, or a file: URL. Nothing is
// fetched from the network.
bool load_template_file(XmlDocument& doc, std::string_view name) {
    std::string path(name);
    if (starts_with_nocase(path, "file:///"))
        path = path.substr(7);
    else if (path.find("://") != std::string::npos)
        return false;
    std::string bytes(TStack_V3EXT::kMaxTemplateSize + 1, '\0');
    const int n = CADB_read_file_plain(path.c_str(), bytes.data(), static_cast<int>(bytes.size()));
    if (n <= 0 || static_cast<std::size_t>(n) > TStack_V3EXT::kMaxTemplateSize) return false;
    bytes.resize(static_cast<std::size_t>(n));
    return doc.load_bytes({reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()},
                          TStack_V3EXT::kMaxTemplateSize);
}

}  // namespace

TStack_V3EXT::TStack_V3EXT() : stack_(sk_X509_EXTENSION_new_null()) {}

TStack_V3EXT::~TStack_V3EXT() { sk_X509_EXTENSION_pop_free(stack_, X509_EXTENSION_free); }

int TStack_V3EXT::add(const TX509Extension* extension) {
    if (!extension) return -1;
    const int nid = extension->getNid();
    if (objects_.count(nid)) return -1;
    auto copy = extension->clone();
    TX509Extension* added = copy.get();
    objects_.emplace(nid, std::move(copy));
    return added->addToStack(&stack_, nullptr);
}

int TStack_V3EXT::remove(const TX509Extension* extension) {
    if (!extension || !objects_.count(extension->getNid())) return -1;
    const int openssl_nid = OBJ_nid2openssl(extension->getNid());
    const int at = X509v3_get_ext_by_NID(stack_, openssl_nid, -1);
    if (at >= 0) X509_EXTENSION_free(X509v3_delete_ext(stack_, at));
    return 0;
}

void TStack_V3EXT::replaceFromTemplate(int nid, const XmlNode& object) {
    const bool critical = TX509Extension::templateCritical(object);
    const auto der = TX509Extension::templateValue(object);
    // The new value is checked before the old one goes, so a template with a
    // broken value leaves the extension it would have replaced in force.
    if (!der || !TX509Extension::decodesAs(nid, *der)) return;
    const int at = X509v3_get_ext_by_NID(stack_, OBJ_nid2openssl(nid), -1);
    if (at >= 0) X509_EXTENSION_free(X509v3_delete_ext(stack_, at));
    TX509Extension::stackAdd(&stack_, nid, critical, *der);
}

int TStack_V3EXT::fillFromXMLTemplate(const char* text, int isFile, int replace) {
    LogMessage("TStack_V3EXT::fillFromXMLTemplate()...Entry");
    if (!text || !*text) return 0;
    if (!stack_) {
        LogMessage("TStack_V3EXT::fillFromXMLTemplate()...Microsoft DOM 6.0 Creation Error!");
        UIMessageBox("Microsoft DOM 6.0 Creation Error!", "Error", kIconStop);
        return 0;
    }
    XmlDocument doc;
    const bool loaded =
        isFile ? load_template_file(doc, text) : doc.load_xml(text, kMaxTemplateSize);
    if (!loaded) {
        LogMessage("TStack_V3EXT::fillFromXMLTemplate()...Empty document! %s", doc.error().c_str());
        UIMessageBox("Empty document!", "Error Loading XML", kIconStop);
        return 0;
    }
    for (const XmlNode& object : doc.as_node().select_nodes(kObjectPath)) {
        const std::string oid = object.child_element("OID").text();
        if (oid.empty()) continue;
        const int nid = OBJ_txt2nid(oid.c_str());
        if (nid == 0) continue;  // an extension this library cannot name
        if (!objects_.count(nid)) {
            auto extension = std::make_unique<TX509Extension>(nid);
            extension->setObjectId(nid);
            TX509Extension* added = extension.get();
            objects_.emplace(nid, std::move(extension));
            added->addToStack(&stack_, &object);
        } else if (replace) {
            replaceFromTemplate(nid, object);
        }
    }
    return 1;
}

}  // namespace cadb
