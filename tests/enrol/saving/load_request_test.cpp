// Requests a page brings as text or as a file become the printable request:
// the same printable form the request road gives, whatever the request's
// form; anything that is no request is refused and leaves none.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "enrol/identities.h"
#include "enrol/printable_request.h"
#include "enrol/quillon_iface.h"
#include "platform/com/bstr.h"
#include "platform/com/object.h"
#include "wrappers/tpkcs10.h"

extern "C" cadb::com::HRESULT DllGetClassObject(const cadb::com::CLSID& rclsid,
                                                const cadb::com::IID& riid, void** ppv);

namespace cadb::enrol::test {
namespace {

namespace fs = std::filesystem;
using namespace cadb::com;

constexpr HRESULT kReadError = static_cast<HRESULT>(0x80040000u | 15055u);

class LoadRequest : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/cadb-loadreq-XXXXXX";
        dir_ = mkdtemp(tmpl);
        // A long organisation name gives printed lines past 80 characters.
        const std::string cmd =
            "cd '" + dir_ +
            "' && openssl req -engine gost -new -newkey gost2001 -pkeyopt paramset:A -nodes "
            "-subj '/C=RU/O=" + std::string(60, 'o') + "/CN=Petrov' -keyout key.pem -out "
            "req.pem >/dev/null 2>&1 && openssl req -in req.pem -outform DER -out req.der "
            ">/dev/null 2>&1 && openssl req -engine gost -new -x509 -key key.pem -subj /CN=self "
            "-out cert.pem >/dev/null 2>&1";
        ASSERT_EQ(std::system(cmd.c_str()), 0);
        ComPtr<IClassFactory> factory;
        ASSERT_EQ(DllGetClassObject(CLSID_Quillon, IID_IClassFactory, factory.put_void()), S_OK);
        ASSERT_EQ(factory->CreateInstance(nullptr, IID_IQuillon, q_.put_void()), S_OK);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string read(const std::string& name) {
        std::ifstream in(dir_ + "/" + name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    HRESULT load_text(const std::string& text) {
        BSTR b = bstr_from_utf8(text);
        const HRESULT hr = q_->LoadPKCS10(b);
        SysFreeString(b);
        return hr;
    }
    HRESULT load_file(const std::string& name) {
        BSTR b = bstr_from_utf8(name.empty() ? name : dir_ + "/" + name);
        const HRESULT hr = q_->LoadPKCS10File(b);
        SysFreeString(b);
        return hr;
    }
    std::string printable() {
        BSTR b = nullptr;
        EXPECT_EQ(q_->P10_PrintableText(&b), S_OK);
        const std::string text = b ? bstr_to_utf8(b) : "";
        SysFreeString(b);
        return text;
    }
    // What the request road shows for the request of req.pem.
    std::string expected() {
        const std::string pem = read("req.pem");
        TPKCS10 request;
        EXPECT_TRUE(request.loadDER(reinterpret_cast<const unsigned char*>(pem.data()),
                                    static_cast<int>(pem.size())));
        BSTR b = bstr_from_ansi(PrintableRequestText(request));
        const std::string text = bstr_to_utf8(b);
        SysFreeString(b);
        return text;
    }

    std::string dir_;
    ComPtr<IQuillon> q_;
};

TEST_F(LoadRequest, EveryFormGivesThePrintableFormOfTheRequest) {
    const std::string want = expected();
    ASSERT_NE(want.find("Petrov"), std::string::npos);
    ASSERT_NE(want.find("-----BEGIN CERTIFICATE REQUEST-----"), std::string::npos);
    EXPECT_EQ(printable(), "");

    ASSERT_EQ(load_text(read("req.pem")), S_OK);
    EXPECT_EQ(printable(), want);
    // The base64 body alone, on one line.
    const std::string pem = read("req.pem");
    std::string body;
    for (std::size_t at = pem.find('\n') + 1; pem.compare(at, 5, "-----") != 0; ++at)
        if (pem[at] != '\n') body += pem[at];
    ASSERT_EQ(load_text(body), S_OK);
    EXPECT_EQ(printable(), want);
    ASSERT_EQ(load_file("req.der"), S_OK);
    EXPECT_EQ(printable(), want);
    ASSERT_EQ(load_file("req.pem"), S_OK);
    EXPECT_EQ(printable(), want);
    // No printed line runs past 80 characters.
    std::size_t start = 0;
    for (std::size_t nl; (nl = want.find('\n', start)) != std::string::npos; start = nl + 1)
        EXPECT_LE(nl - start, 80u) << want.substr(start, nl - start);
}

TEST_F(LoadRequest, WhatIsNoRequestIsRefusedAndLeavesNone) {
    std::ofstream(dir_ + "/empty");
    fs::create_directories(dir_ + "/folder");
    const std::string pem = read("req.pem");
    for (const std::string& text :
         {std::string(), std::string("garbage"), pem.substr(0, pem.size() / 2), read("cert.pem")}) {
        ASSERT_EQ(load_text(pem), S_OK);
        EXPECT_EQ(load_text(text), kReadError) << text;
        EXPECT_EQ(printable(), "");
    }
    for (const std::string& name : {"", "missing", "empty", "folder", "cert.pem"}) {
        ASSERT_EQ(load_text(pem), S_OK);
        EXPECT_EQ(load_file(name), kReadError) << name;
        EXPECT_EQ(printable(), "");
    }
    EXPECT_EQ(q_->LoadPKCS10(nullptr), kReadError);
}

}  // namespace
}  // namespace cadb::enrol::test
