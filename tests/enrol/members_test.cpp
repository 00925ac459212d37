#include <utility>
#include <vector>

#include "platform/com/bstr.h"
#include "platform/com/errorinfo.h"
#include "tests/enrol/fixture.h"

namespace cadb::enrol::test {
namespace {

using namespace cadb::com;

// Every member of IQuillon with its dispatch id.
const std::vector<std::pair<const char16_t*, DISPID>> kMembers = {
    {u"createFilePKCS10", 1},
    {u"acceptFilePKCS7", 2},
    {u"createPKCS10", 3},
    {u"acceptPKCS7", 4},
    {u"getCertFromPKCS7", 5},
    {u"enumProviders", 6},
    {u"ProviderName", 7},
    {u"ProviderType", 8},
    {u"KeySpec", 9},
    {u"UseExistingKeySet", 10},
    {u"HashAlgorithm", 11},
    {u"addNameValuePairToRequest", 12},
    {u"Reset", 13},
    {u"GetSupportedKeySpec", 14},
    {u"GetKeyLenEx", 15},
    {u"GetKeyLen", 16},
    {u"EnumAlgs", 17},
    {u"GetAlgName", 18},
    {u"HashAlgID", 19},
    {u"EnableSMIMECapabilities", 20},
    {u"ThumbPrint", 21},
    {u"addExtensionToRequest", 22},
    {u"addAttributeToRequest", 23},
    {u"resetExtensions", 24},
    {u"resetAttributes", 25},
    {u"createRequestBegin", 26},
    {u"createFileRequestBegin", 27},
    {u"createPFX", 28},
    {u"createFilePFX", 29},
    {u"getProviderType", 30},
    {u"SignerCertificate", 31},
    {u"ClientId", 32},
    {u"addBlobPropertyToCertificate", 33},
    {u"resetBlobProperties", 34},
    {u"GenKeyFlags", 35},
    {u"ContainerName", 36},
    {u"UseInternalTID", 37},
    {u"TID", 38},
    {u"createFileRequestEnd", 39},
    {u"createRequestEnd", 40},
    {u"createRvcBegin", 41},
    {u"createRvcEndSigned", 42},
    {u"createRvcEnd", 43},
    {u"createFileRvcEndSigned", 44},
    {u"createFileRvcEnd", 45},
    {u"IsPSEExists", 46},
    {u"IsFileExists", 47},
    {u"DeletePSE", 48},
    {u"DefaultPSEPath", 49},
    {u"DefaultPKeyPath", 50},
    {u"DefaultPKeyFileName", 51},
    {u"CertPathLen", 55},
    {u"CertXML", 56},
    {u"CRLXML", 57},
    {u"SaveCert", 58},
    {u"SaveCRL", 59},
    {u"IsPSEPathReady", 60},
    {u"DefMediaPKeyFileName", 61},
    {u"FindPairPKeyByCert", 62},
    {u"getAcceptedPKCS7Content", 63},
    {u"GetCertFileXML", 64},
    {u"SaveCertAs", 65},
    {u"SaveCRLAs", 66},
    {u"AcceptPKCS7Response", 67},
    {u"AcceptPKCS7ResponseFile", 68},
    {u"PassOnContainer", 69},
    {u"P10_PrintableText", 70},
    {u"LoadPKCS10", 71},
    {u"LoadPKCS10File", 72},
    {u"BrowseDevuces", 73},
};

std::u16string upper(std::u16string s) {
    for (char16_t& c : s)
        if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
    return s;
}

TEST_F(QuillonModule, EveryMemberHasItsDispatchId) {
    ComPtr<IQuillon> q = create();
    for (const auto& [name, id] : kMembers) {
        DISPID got = 0;
        std::u16string shouted = upper(name);
        const char16_t* names[] = {shouted.c_str()};
        EXPECT_EQ(q->GetIDsOfNames(names, 1, 0, &got), S_OK) << utf16_to_utf8(name);
        EXPECT_EQ(got, id) << utf16_to_utf8(name);
    }
    for (DISPID missing : {52, 53, 54, 74}) {
        DISPPARAMS none;
        EXPECT_EQ(q->Invoke(missing, 0, DISPATCH_METHOD | DISPATCH_PROPERTYGET, &none, nullptr,
                            nullptr, nullptr),
                  DISP_E_MEMBERNOTFOUND);
    }
}

std::string text(BSTR s) { return bstr_to_utf8(s); }

std::string error_text() {
    IErrorInfo* info = nullptr;
    if (GetErrorInfo(0, &info) != S_OK) return "";
    BSTR d = nullptr;
    info->GetDescription(&d);
    std::string out = text(d);
    SysFreeString(d);
    info->Release();
    return out;
}

TEST_F(QuillonModule, DefaultsOfANewObject) {
    ComPtr<IQuillon> q = create();
    BSTR s = nullptr;
    I4 n = 0;
    q->get_ProviderName(&s);
    EXPECT_EQ(text(s), "ГОСТ Р 34.10-2001");
    q->get_ContainerName(&s);
    EXPECT_EQ(text(s), "a:\\");
    q->get_DefaultPSEPath(&s);
    EXPECT_EQ(text(s), "a:\\");
    q->get_DefaultPKeyPath(&s);
    EXPECT_EQ(text(s), "a:\\keys");
    q->get_DefaultPKeyFileName(&s);
    EXPECT_EQ(text(s), "00000001.key");
    q->get_TID(&s);
    EXPECT_EQ(text(s), "");
    SysFreeString(s);
    q->get_HashAlgID(&n);
    EXPECT_EQ(n, 176);
    q->get_UseInternalTID(&n);
    EXPECT_EQ(n, 1);
    q->get_GenKeyFlags(&n);
    EXPECT_EQ(n, 256 << 16);
    q->GetSupportedKeySpec(&n);
    EXPECT_EQ(n, 3);
    q->get_ProviderType(&n);
    EXPECT_EQ(n, 0);
}

TEST_F(QuillonModule, ResetRestoresOnlyThePaths) {
    ComPtr<IQuillon> q = create();
    Bstr path(bstr_from_utf8("b:\\store"));
    q->put_ContainerName(path.get());
    q->put_DefaultPKeyPath(path.get());
    q->put_DefaultPKeyFileName(path.get());
    q->put_HashAlgID(64);
    q->put_GenKeyFlags((1024 << 16) | 2 | 1);
    EXPECT_EQ(q->Reset(), S_OK);
    BSTR s = nullptr;
    I4 n = 0;
    q->get_DefaultPSEPath(&s);
    EXPECT_EQ(text(s), "a:\\");
    q->get_DefaultPKeyFileName(&s);
    EXPECT_EQ(text(s), "00000001.key");
    SysFreeString(s);
    q->get_HashAlgID(&n);
    EXPECT_EQ(n, 64);
    q->get_GenKeyFlags(&n);
    EXPECT_EQ(n, (1024 << 16) | 2);  // only bit 2 of the flags is kept
    q->put_GenKeyFlags(static_cast<I4>(0xFFFF0000u));
    q->get_GenKeyFlags(&n);
    EXPECT_EQ(n, static_cast<I4>(0xFFFF0000u));  // -1 shifted back
}

// A null container name is no name: a road that needs an existing store
// stops before anything is read. An empty one is a name, of no store.
TEST_F(QuillonModule, NullAndEmptyContainerNames) {
    ComPtr<IQuillon> q = create();
    Bstr dn(bstr_from_utf8("CN=x;")), usage(bstr_from_utf8("")), empty(bstr_from_utf8(""));
    q->put_UseExistingKeySet(1);
    BSTR out = nullptr;
    q->put_ContainerName(nullptr);
    EXPECT_EQ(q->createPKCS10(dn.get(), usage.get(), &out), static_cast<HRESULT>(0x80043a9cu));
    q->put_ContainerName(empty.get());
    EXPECT_EQ(q->createPKCS10(dn.get(), usage.get(), &out), static_cast<HRESULT>(0x80043a9eu));
    EXPECT_EQ(out, nullptr);
}

TEST_F(QuillonModule, ProviderEnumeration) {
    ComPtr<IQuillon> q = create();
    BSTR s = nullptr;
    ASSERT_EQ(q->enumProviders(0, 0, &s), S_OK);
    EXPECT_EQ(text(s), "ГОСТ Р 34.10-2001 CP");
    ASSERT_EQ(q->enumProviders(1, 0x2000, &s), S_OK);
    EXPECT_EQ(text(s), "ГОСТ Р 34.10-94   CP");
    ASSERT_EQ(q->enumProviders(5, 0, &s), S_OK);
    EXPECT_EQ(text(s), "DSA");
    EXPECT_EQ(q->enumProviders(6, 0, &s), static_cast<HRESULT>(0x80043A9A));
    EXPECT_EQ(s, nullptr);
    EXPECT_EQ(error_text(), "No more providers");
    EXPECT_EQ(q->enumProviders(-1, 0, &s), static_cast<HRESULT>(0x80043A9A));
    ASSERT_EQ(q->enumProviders(0, 0x8000, &s), S_OK);
    EXPECT_EQ(text(s), "ГОСТ Р 34.11-94");
    ASSERT_EQ(q->enumProviders(3, 0x8000, &s), S_OK);
    EXPECT_EQ(text(s), "SHA1");
    SysFreeString(s);
}

TEST_F(QuillonModule, HashAlgorithmsFollowTheProvider) {
    ComPtr<IQuillon> q = create();
    I4 alg = 0;
    ASSERT_EQ(q->EnumAlgs(0, 0x8000, &alg), S_OK);
    EXPECT_EQ(alg, 176);
    EXPECT_EQ(q->EnumAlgs(1, 0x8000, &alg), static_cast<HRESULT>(0x80043A9A));
    Bstr rsa(bstr_from_utf8("RSA"));
    ASSERT_EQ(q->put_ProviderName(rsa.get()), S_OK);
    ASSERT_EQ(q->EnumAlgs(0, 0x8000, &alg), S_OK);
    EXPECT_EQ(alg, 64);
    ASSERT_EQ(q->EnumAlgs(1, 0x8000, &alg), S_OK);
    EXPECT_EQ(alg, 4);
    Bstr cp(bstr_from_utf8("ГОСТ Р 34.10-94   CP"));
    ASSERT_EQ(q->put_ProviderName(cp.get()), S_OK);
    ASSERT_EQ(q->EnumAlgs(0, 0x8000, &alg), S_OK);
    EXPECT_EQ(alg, 288);
    ASSERT_EQ(q->EnumAlgs(5, 0x2000, &alg), S_OK);
    EXPECT_EQ(alg, 116);
}

TEST_F(QuillonModule, AlgorithmNamesComeFromTheLastEnumeration) {
    ComPtr<IQuillon> q = create();
    BSTR s = nullptr;
    EXPECT_EQ(q->GetAlgName(271, &s), S_FALSE);  // nothing enumerated yet
    EXPECT_EQ(s, nullptr);
    I4 alg = 0;
    ASSERT_EQ(q->EnumAlgs(0, 0x2000, &alg), S_OK);
    ASSERT_EQ(q->GetAlgName(271, &s), S_OK);
    EXPECT_EQ(text(s), "ГОСТ Р 34.10-2001 CP");
    EXPECT_EQ(q->GetAlgName(176, &s), S_FALSE);  // a hash is not in the list
    SysFreeString(s);
}

TEST_F(QuillonModule, ProviderNameMatchesSignatureRowsExactly) {
    ComPtr<IQuillon> q = create();
    I4 n = 0;
    Bstr sha1(bstr_from_utf8("SHA1"));
    EXPECT_EQ(q->put_ProviderName(sha1.get()), static_cast<HRESULT>(0x80043A9C));
    EXPECT_EQ(error_text(), "Bad Object Name");
    Bstr lower(bstr_from_utf8("rsa"));
    EXPECT_EQ(q->put_ProviderName(lower.get()), static_cast<HRESULT>(0x80043A9C));
    BSTR s = nullptr;
    q->get_ProviderName(&s);
    EXPECT_EQ(text(s), "ГОСТ Р 34.10-2001");  // unchanged by the failures
    SysFreeString(s);
    Bstr rsa(bstr_from_utf8("RSA"));
    ASSERT_EQ(q->put_ProviderName(rsa.get()), S_OK);
    ASSERT_EQ(q->GetKeyLen(1, 0, &n), S_OK);
    EXPECT_EQ(n, 512);
    ASSERT_EQ(q->GetKeyLen(0, 0, &n), S_OK);
    EXPECT_EQ(n, 2048);
    EXPECT_EQ(q->put_ProviderType(0), S_OK);
    EXPECT_EQ(q->put_ProviderType(-5), S_OK);
    EXPECT_EQ(q->put_ProviderType(1), static_cast<HRESULT>(0x80043A9B));
    EXPECT_EQ(error_text(), "Extra Object Index");
}

TEST_F(QuillonModule, ExtensionTemplatesOnlyWithFlagsMinusOne) {
    ComPtr<IQuillon> q = create();
    Bstr name(bstr_from_utf8("XML_TEXT"));
    Bstr other(bstr_from_utf8("XML_STRING"));
    Bstr value(bstr_from_utf8("<Extensions/>"));
    EXPECT_EQ(q->addExtensionToRequest(0, name.get(), value.get()), S_OK);
    EXPECT_EQ(q->addExtensionToRequest(0, other.get(), value.get()), S_OK);
    EXPECT_EQ(q->addExtensionToRequest(-1, other.get(), value.get()), S_FALSE);
    EXPECT_EQ(error_text(), "Read Extension from Template Error");
}

TEST_F(QuillonModule, EndsWithoutBeginAndCountsWithoutAnswer) {
    ComPtr<IQuillon> q = create();
    Bstr container(bstr_from_utf8("a:\\"));
    // No Begin asked for a request: the Ends do nothing and touch no output.
    BSTR out = bstr_from_utf8("stale");
    EXPECT_EQ(q->createRequestEnd(container.get(), nullptr, nullptr, &out), S_OK);
    EXPECT_EQ(bstr_to_utf8(out), "stale");
    SysFreeString(out);
    EXPECT_EQ(q->createFileRequestEnd(container.get(), nullptr, nullptr), S_OK);
    I4 count = 7;
    EXPECT_EQ(q->CertPathLen(&count), static_cast<HRESULT>(0x80043AC1));
    EXPECT_EQ(count, 0);
    EXPECT_EQ(error_text(), "PKCS#7 Response is not accepted");
}

}  // namespace
}  // namespace cadb::enrol::test
