// Extensions a request asks for, as objects: key usage, extended key usage
// and basic constraints built by code, any other extension read from an XML
// template a web page hands in. TStack_V3EXT keeps one object per extension
// and the library's extension stack that the request is made from.
#pragma once

#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "platform/xml/xml_dom.h"

namespace cadb {

class TASN1Object {
public:
    virtual ~TASN1Object() = default;
    static constexpr std::size_t kMaxObjectIdText = 255;

    // The dotted form of the object (empty for an unknown number).
    void setObjectId(int nid);
    virtual const std::string& getObjectIdText() const { return object_id_; }
    virtual int getNid() const { return 0; }

protected:
    std::string object_id_;
    std::uint16_t word1_ = 0, word2_ = 0;
};

class TX509Extension : public TASN1Object {
public:
    explicit TX509Extension(int nid = 0) : nid_(nid) {}
    TX509Extension(const TX509Extension&) = default;

    virtual std::string getShortName() const { return ""; }
    int getNid() const override { return nid_; }
    virtual std::unique_ptr<TX509Extension> clone() const {
        return std::make_unique<TX509Extension>(*this);
    }
    void setCritical(bool critical) { critical_ = critical; }
    bool isCritical() const { return critical_; }

    // Adds the extension to the library stack: from the object's own value
    // when element is null, else from the template element's data. 1 when
    // added, 0 when refused (the stack already holds the number, the value
    // does not decode), -1 when this object cannot be added that way.
    virtual int addToStack(STACK_OF(X509_EXTENSION) * *stack, const XmlNode* element);

    // Template reading, shared with the stack's replacement path.
    // The "BOOLEAN" data reads "255" for critical, anything else is not.
    static bool templateCritical(const XmlNode& object);
    // The DER of the "OCTET_STRING" data, or nothing when it is absent.
    static std::optional<std::string> templateValue(const XmlNode& object);
    // Whether der is a valid value of the extension numbered nid (the
    // library's numbering); numbers outside the readable set are not.
    static bool decodesAs(int nid, const std::string& der);
    // Adds nid's extension with its DER value unless the stack holds it. 1/0.
    static int stackAdd(STACK_OF(X509_EXTENSION) * *stack, int nid, bool critical,
                        const std::string& der);

protected:
    bool critical_ = false;
    int nid_ = 0;
};

class TKeyUsageExt : public TX509Extension {
public:
    TKeyUsageExt();
    TKeyUsageExt(const TKeyUsageExt& other);
    std::string getShortName() const override { return "keyUsage"; }
    std::unique_ptr<TX509Extension> clone() const override {
        return std::make_unique<TKeyUsageExt>(*this);
    }
    // Sets bit i of the string for bit i (0-8) of mask; bits set stay set.
    bool setBits(unsigned mask);
    int addToStack(STACK_OF(X509_EXTENSION) * *stack, const XmlNode* element) override;

private:
    std::unique_ptr<ASN1_BIT_STRING, decltype(&ASN1_BIT_STRING_free)> bits_;
};

class TExtKeyUsageExt : public TX509Extension {
public:
    TExtKeyUsageExt();
    TExtKeyUsageExt(const TExtKeyUsageExt& other);
    std::string getShortName() const override { return "extendedKeyUsage"; }
    std::unique_ptr<TX509Extension> clone() const override {
        return std::make_unique<TExtKeyUsageExt>(*this);
    }
    // One purpose as dotted text or a name.
    bool addPurpose(const std::string& purpose);
    int addToStack(STACK_OF(X509_EXTENSION) * *stack, const XmlNode* element) override;

private:
    std::unique_ptr<EXTENDED_KEY_USAGE, decltype(&EXTENDED_KEY_USAGE_free)> purposes_;
};

class TBasicConstraintsExt : public TX509Extension {
public:
    TBasicConstraintsExt();
    TBasicConstraintsExt(const TBasicConstraintsExt& other);
    std::string getShortName() const override { return "basicConstraints"; }
    std::unique_ptr<TX509Extension> clone() const override {
        return std::make_unique<TBasicConstraintsExt>(*this);
    }
    // pathLength below 0 leaves the path length out.
    bool set(bool ca, long pathLength);
    int addToStack(STACK_OF(X509_EXTENSION) * *stack, const XmlNode* element) override;

private:
    std::unique_ptr<BASIC_CONSTRAINTS, decltype(&BASIC_CONSTRAINTS_free)> value_;
};

class TStack_V3EXT {
public:
    TStack_V3EXT();
    ~TStack_V3EXT();
    TStack_V3EXT(const TStack_V3EXT&) = delete;
    TStack_V3EXT& operator=(const TStack_V3EXT&) = delete;

    // Takes a copy of the extension: the copy's addToStack result when its
    // number is new, -1 when it is held already (or extension is null).
    int add(const TX509Extension* extension);
    // Takes the extension's record out of the library stack (the object
    // stays): 0, or -1 when no extension of that number is held.
    int remove(const TX509Extension* extension);

    // Adds every extension of an XML template, given as text or as a file
    // path (isFile); a repeated number replaces the earlier value when
    // replace is set. 1 when the template was read, 0 when not.
    int fillFromXMLTemplate(const char* text, int isFile, int replace);

    // The library stack a request is made from (owned here).
    const STACK_OF(X509_EXTENSION) * stack() const { return stack_; }
    std::size_t size() const { return objects_.size(); }

    // Largest template read.
    static constexpr std::size_t kMaxTemplateSize = 1 << 20;
    static constexpr const char* kObjectPath = "//CertificationRequestInfo/Attributes//Object";

private:
    void replaceFromTemplate(int nid, const XmlNode& object);

    std::map<int, std::unique_ptr<TX509Extension>> objects_;
    STACK_OF(X509_EXTENSION) * stack_;
};

// Hex text two characters a byte, either case; any other character counts
// as 0 and an odd last character is dropped.
std::string DecodeTemplateHex(const std::string& text);

}  // namespace cadb
