// Revocation requests as a page makes them: scripts run by the script host
// drive the enrolment object; what it hands out is read back here by the
// library's own CMC reader (in this process, apart from the object's copy of
// the library), and the signed form is checked by the openssl command with
// Debian's GOST engine in a child process.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "crypto/cms/cmc.h"
#include "crypto/core/objects.h"
#include "crypto/init/init.h"
#include "platform/codepage.h"
#include "platform/com/registry.h"
#include "tests/enrol/cmc_reading.h"
#include "tests/enrol/revoke/content_rewrap.h"
#include "tests/enrol/script_fixture.h"

namespace cadb::enrol::test {
namespace {

namespace fs = std::filesystem;

// UTF-8 text in the local code page.
std::string ansi(const std::string& utf8) {
    std::string out(utf8.size(), '\0');
    const long n = codepage_convert(
        kUtf8, kLocalCodePage, {reinterpret_cast<const unsigned char*>(utf8.data()), utf8.size()},
        {reinterpret_cast<unsigned char*>(out.data()), out.size()});
    out.resize(n < 0 ? 0 : static_cast<std::size_t>(n));
    return out;
}

std::string from_base64(const std::string& text) {
    std::string clean;
    for (char c : text)
        if (c != '\n' && c != '\r') clean += c;
    std::string out(clean.size(), '\0');
    const int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                  reinterpret_cast<const unsigned char*>(clean.data()),
                                  static_cast<int>(clean.size()));
    if (n < 0) return {};
    std::size_t pad = 0;
    while (pad < clean.size() && clean[clean.size() - 1 - pad] == '=') ++pad;
    out.resize(static_cast<std::size_t>(n) - pad);
    return out;
}

// Error lines as the scripts print them: the code's low half and the text.
std::string alert(int code, const char* text) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "%x", 0x80040000u | static_cast<unsigned>(code));
    return std::string(hex) + " " + text;
}

class Revocation : public ScriptDrive {
  protected:
    void SetUp() override {
        ScriptDrive::SetUp();
        // The certificate to revoke: a request of the openssl command, issued
        // by the test authority under a known serial.
        const std::string cmd = "cd '" + dir_ +
                                "' && openssl req -engine gost -new -newkey gost2001 -pkeyopt "
                                "paramset:A -nodes -subj '/C=RU/O=Org/CN=Ivanov' -keyout "
                                "key.pem -out req.pem >/dev/null 2>&1 && " TEST_CA
                                " -serial 00A1B2C3D4 -cert cert.pem req.pem resp.pem";
        ASSERT_EQ(std::system(cmd.c_str()), 0);
    }
    // Runs the body after a prelude (q the object, dir the test's folder,
    // attempt(f) printing f's result or the error's code and text).
    int script(const std::string& body) {
        const std::string file = dir_ + "/test.js";
        std::ofstream(file) << "var dir = WScript.Arguments(0);\n"
                               "var q = new ActiveXObject('Quillon.Quillon');\n"
                               "function attempt(f) {\n"
                               "  try { var r = f(); WScript.Echo(r); }\n"
                               "  catch (e) { WScript.Echo((e.number >>> 0).toString(16) + ' ' + "
                               "e.description); }\n"
                               "}\n"
                               "function codes(s) {\n"
                               "  var a = [];\n"
                               "  for (var i = 0; i < s.length; i++) a.push(s.charCodeAt(i));\n"
                               "  return a.join(',');\n"
                               "}\n"
                            << body;
        return run_file(file, "'" + dir_ + "'");
    }
    std::vector<std::string> lines() const {
        std::vector<std::string> out;
        std::istringstream in(out_);
        for (std::string line; std::getline(in, line);) out.push_back(line);
        return out;
    }
    // The CMC request in a base64 text, read by the library.
    static CmcPtr read_request(const std::string& base64) {
        const std::string der = from_base64(base64);
        return CmcPtr(CMS_read(reinterpret_cast<const unsigned char*>(der.data()),
                               static_cast<long>(der.size()), 251));
    }
    X509_NAME* issuer_of_cert() {
        FILE* f = std::fopen((dir_ + "/cert.pem").c_str(), "r");
        if (f == nullptr) return nullptr;
        X509* x = PEM_read_X509(f, nullptr, nullptr, nullptr);
        std::fclose(f);
        if (x == nullptr) return nullptr;
        X509_NAME* name = X509_NAME_dup(X509_get_issuer_name(x));
        X509_free(x);
        return name;
    }

};

TEST_F(Revocation, UnsignedRequestCarriesEveryFieldGiven) {
    ASSERT_EQ(script(R"(
q.createRvcBegin(dir + '/cert.pem', 1, 'Пароль-1', 'Ключ скомпрометирован', '');
WScript.Echo(codes(q.TID));
WScript.Echo(q.createRvcEnd());
)"),
              0)
        << err_;
    const std::vector<std::string> out = lines();
    ASSERT_EQ(out.size(), 2u) << out_;
    const std::time_t now = std::time(nullptr);

    CmcPtr cmc = read_request(out[1]);
    ASSERT_NE(cmc, nullptr) << out[1];
    EXPECT_LE(sk_CMP_TREQ_num(cmc->requests), 0);  // none (no list made)
    const CMS_TATTR* revoke = control(cmc.get(), NID_CMC_REVOKE_REQUEST);
    ASSERT_NE(revoke, nullptr);
    const CMS_REVREQ* r = revoke->value.revreq;
    X509_NAME* issuer = issuer_of_cert();
    ASSERT_NE(issuer, nullptr);
    EXPECT_EQ(X509_NAME_cmp(r->issuer, issuer), 0);
    X509_NAME_free(issuer);
    EXPECT_EQ(bytes_of(r->serial), std::string("\xA1\xB2\xC3\xD4"));
    EXPECT_EQ(r->reason, 1);
    ASSERT_NE(r->invalidity_date, nullptr);
    std::tm when = *r->invalidity_date;
    EXPECT_LE(std::llabs(static_cast<long long>(timegm(&when) - now)), 300);
    EXPECT_EQ(bytes_of(r->shared_secret), ansi("Пароль-1"));
    EXPECT_EQ(bytes_of(r->comment), ansi("Ключ скомпрометирован"));

    // The internal identifier: 32 characters of the local code page, whose
    // bytes are the transaction identifier of the request.
    std::u16string tid;
    std::istringstream codes(out[0]);
    for (std::string c; std::getline(codes, c, ',');) tid += static_cast<char16_t>(std::stoi(c));
    ASSERT_EQ(tid.size(), 32u);
    const CMS_TATTR* id = control(cmc.get(), NID_CMC_TRANSACTION_ID);
    ASSERT_NE(id, nullptr);
    EXPECT_EQ(id->body_part_id, 1);
    std::string utf16be;
    for (char16_t c : tid)
        utf16be += static_cast<char>(c >> 8), utf16be += static_cast<char>(c & 0xFF);
    std::string tid_bytes(64, '\0');
    const long n =
        codepage_convert(kBmp, kLocalCodePage,
                         {reinterpret_cast<const unsigned char*>(utf16be.data()), utf16be.size()},
                         {reinterpret_cast<unsigned char*>(tid_bytes.data()), tid_bytes.size()});
    ASSERT_EQ(n, 32);
    tid_bytes.resize(32);
    EXPECT_EQ(tid_bytes.find('\0'), std::string::npos);
    // The reader gives the INTEGER's magnitude: the bytes, unless the first
    // is zero (never, above).
    EXPECT_EQ(bytes_of(id->value.bytes), tid_bytes);
}

TEST_F(Revocation, EmptyCommentIsOneBlankAndTheTidPutBeforeBeginIsKept) {
    ASSERT_EQ(script(R"(
q.UseInternalTID = 0;
q.TID = 'Заявка-7';
q.createRvcBegin(dir + '/cert.pem', 8, 'p', '', '');
WScript.Echo(q.TID);
WScript.Echo(q.createRvcEnd());
)"),
              0)
        << err_;
    const std::vector<std::string> out = lines();
    ASSERT_EQ(out.size(), 2u) << out_;
    EXPECT_EQ(out[0], "Заявка-7");
    CmcPtr cmc = read_request(out[1]);
    ASSERT_NE(cmc, nullptr);
    const CMS_REVREQ* r = control(cmc.get(), NID_CMC_REVOKE_REQUEST)->value.revreq;
    EXPECT_EQ(bytes_of(r->comment), " ");
    EXPECT_EQ(r->reason, 8);
    EXPECT_EQ(bytes_of(control(cmc.get(), NID_CMC_TRANSACTION_ID)->value.bytes), ansi("Заявка-7"));
}

TEST_F(Revocation, RefusedReasonsMissingPasswordAndCertificates) {
    ASSERT_EQ(script(R"(
attempt(function () { return q.createRvcBegin(dir + '/cert.pem', 7, 'p', 'c', ''); });
attempt(function () { return q.createRvcBegin(dir + '/cert.pem', 11, 'p', 'c', ''); });
attempt(function () { return q.createRvcBegin(dir + '/cert.pem', -1, 'p', 'c', ''); });
attempt(function () { return q.createRvcBegin('', 1, 'p', 'c', ''); });
attempt(function () { return q.createRvcBegin(dir + '/missing.pem', 1, 'p', 'c', ''); });
attempt(function () { return q.createRvcBegin(dir + '/req.pem', 1, 'p', 'c', ''); });
attempt(function () { return q.createRvcBegin(dir + '/cert.pem', 0, '', 'c', ''); });
attempt(function () { return q.createRvcEnd(); });
)"),
              0)
        << err_;
    const std::string info = alert(15034, "Certificate Revocation Info Error");
    const std::string view = alert(15033, "Certificate View Error");
    EXPECT_EQ(lines(),
              (std::vector<std::string>{
                  info, info, info, alert(15031, "Certificate for Revocation is not defined"), view,
                  view, "0", alert(15036, "The Emergency Password must be defined")}));
}

TEST_F(Revocation, EndWithoutASuccessfulBeginIsRefused) {
    ASSERT_EQ(script(R"(
attempt(function () { return q.createRvcEnd(); });
attempt(function () { return q.createFileRvcEnd(dir + '/never.txt'); });
attempt(function () { return q.createRvcEndSigned('', dir + '/cert.pem', dir + '/key.pem'); });
attempt(function () { return q.createRvcBegin(dir + '/cert.pem', 1, 'p', 'c', ''); });
attempt(function () { return q.createRvcEnd().length > 0; });
// A Begin that fails forgets the request of the one before.
attempt(function () { return q.createRvcBegin(dir + '/missing.pem', 1, 'p', 'c', ''); });
attempt(function () { return q.createRvcEnd(); });
)"),
              0)
        << err_;
    const std::string refused = alert(15028, "End Operation without Begin");
    EXPECT_EQ(lines(), (std::vector<std::string>{refused, refused, refused, "0", "true",
                                                 alert(15033, "Certificate View Error"), refused}));
    EXPECT_FALSE(fs::exists(dir_ + "/never.txt"));
}

TEST_F(Revocation, FileVariantWritesTheTextOrAnswersSFalse) {
    fs::create_directories(dir_ + "/drive-b/old");
    fs::create_directories(dir_ + "/drive-b/out");
    std::ofstream(dir_ + "/drive-b/old/req.txt") << "earlier request";
    ASSERT_EQ(script(R"(
q.createRvcBegin(dir + '/cert.pem', 4, 'p', 'Текст', '');
var text = q.createRvcEnd();
attempt(function () { return q.createFileRvcEnd(''); });
q.createFileRvcEnd('b:\\out\\req.txt');
WScript.Echo(WScript.LastResult);
// A folder where the file should be, and a file where a folder should be.
q.createFileRvcEnd('b:\\old');
WScript.Echo(WScript.LastResult);
q.createFileRvcEnd(dir + '/cert.pem/req.txt');
WScript.Echo(WScript.LastResult);
WScript.Echo(text);
)"),
              0)
        << err_;
    const std::vector<std::string> out = lines();
    ASSERT_EQ(out.size(), 5u) << out_;
    EXPECT_EQ(out[0], alert(15035, "Revocation File Save Error"));
    EXPECT_EQ(out[1], "0");
    EXPECT_EQ(out[2], "1");
    EXPECT_EQ(out[3], "1");
    // The same identifier each time: the text in the file is the text given.
    EXPECT_EQ(read_file(dir_ + "/drive-b/out/req.txt"), out[4]);
    EXPECT_EQ(read_file(dir_ + "/drive-b/old/req.txt"), "earlier request");
    CmcPtr cmc = read_request(out[4]);
    ASSERT_NE(cmc, nullptr);
    EXPECT_EQ(bytes_of(control(cmc.get(), NID_CMC_REVOKE_REQUEST)->value.revreq->comment),
              ansi("Текст"));
    // Nothing but the file itself is left in its folder.
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_ + "/drive-b/out"))
        names.push_back(e.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"req.txt"});
}

// The PEM message's DER.
std::string der_of_pem(const std::string& pem) {
    BIO* in = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
    char* name = nullptr;
    char* header = nullptr;
    unsigned char* data = nullptr;
    long len = 0;
    std::string out;
    if (in != nullptr && PEM_read_bio(in, &name, &header, &data, &len) == 1)
        out.assign(reinterpret_cast<const char*>(data), static_cast<std::size_t>(len));
    OPENSSL_free(name);
    OPENSSL_free(header);
    OPENSSL_free(data);
    BIO_free(in);
    return out;
}

// A signer as a page gets one: key store and key made by the object on
// drive b:, the certificate issued by the test authority.
class SignedRevocation : public Revocation {
  protected:
    void SetUp() override {
        Revocation::SetUp();
        ASSERT_EQ(script(std::string(kSignerPrelude) + R"(
q.createFilePKCS10('C=RU;O=Org;CN=Signer', '1.3.6.1.5.5.7.3.2', dir + '/signer-req.pem');
// A revocation begun on the object that has just made its key store must
// leave that store (and so the key) as it is.
q.createRvcBegin(dir + '/cert.pem', 1, 'p', 'c', '');
WScript.Echo(q.DefaultPKeyPath + '\\' + q.DefMediaPKeyFileName(0));
)"),
                  0)
            << err_;
        key_path_ = lines().at(0);
        const std::string cmd =
            "cd '" + dir_ + "' && " TEST_CA " -cert signer.pem signer-req.pem signer-resp.pem";
        ASSERT_EQ(std::system(cmd.c_str()), 0);
    }
    // openssl cms -verify with the GOST engine over the message (after its
    // content is put into an OCTET STRING); the content it gives back. The
    // signer's certificate is the trust anchor: the test authority's own
    // certificate carries no CA constraints for openssl to accept.
    std::optional<std::string> peer_verified(const std::string& pem) {
        const std::optional<std::string> der = rewrap_econtent(der_of_pem(pem));
        if (!der) return std::nullopt;
        std::ofstream(dir_ + "/signed.der", std::ios::binary) << *der;
        const std::string cmd =
            "cd '" + dir_ +
            "' && openssl cms -verify -engine gost -inform DER -in signed.der "
            "-CAfile signer.pem -partial_chain -purpose any -binary -out content.der "
            ">peer.log 2>&1";
        if (std::system(cmd.c_str()) != 0) return std::nullopt;
        return read_file(dir_ + "/content.der");
    }
    // The key's path as a script variable.
    std::string key_line() const {
        std::string line = "var key = '";
        for (char c : key_path_) line += c == '\\' ? std::string("\\\\") : std::string(1, c);
        return line + "';\n";
    }
    static constexpr const char* kSignerPrelude = R"(
q.ProviderName = 'ГОСТ Р 34.10-2001 CP';
q.ContainerName = 'b:\\store';
q.DefaultPKeyPath = 'b:\\keys';
)";
    std::string key_path_;
};

TEST_F(SignedRevocation, SignedRequestVerifiesWithThePeerAndCarriesTheRequest) {
    ASSERT_EQ(script(key_line() + R"(
q.UseInternalTID = 0;
q.TID = 'TID-0042';
q.createRvcBegin(dir + '/cert.pem', 5, '', 'Прекращение работы', '');
WScript.Echo(q.createRvcEndSigned('b:\\store', dir + '/signer.pem', key).replace(/\r?\n/g, '|'));
q.createFileRvcEndSigned('b:\\store', dir + '/signer.pem', key, dir + '/signed-file.pem');
WScript.Echo(WScript.LastResult);
q.createFileRvcEndSigned('b:\\store', dir + '/signer.pem', key, dir + '/cert.pem/x.pem');
WScript.Echo(WScript.LastResult);
)"),
              0)
        << err_;
    const std::vector<std::string> out = lines();
    ASSERT_EQ(out.size(), 3u) << out_ << err_;
    std::string pem = out[0];
    for (auto& c : pem)
        if (c == '|') c = '\n';
    EXPECT_EQ(pem.rfind("-----BEGIN PKCS7-----", 0), 0u) << pem;
    EXPECT_EQ(out[1], "0");
    EXPECT_EQ(out[2], "1");

    for (const std::string& message : {pem, read_file(dir_ + "/signed-file.pem")}) {
        const std::optional<std::string> content = peer_verified(message);
        ASSERT_TRUE(content) << read_file(dir_ + "/peer.log");
        CmcPtr cmc(CMS_read(reinterpret_cast<const unsigned char*>(content->data()),
                            static_cast<long>(content->size()), 251));
        ASSERT_NE(cmc, nullptr);
        const CMS_REVREQ* r = control(cmc.get(), NID_CMC_REVOKE_REQUEST)->value.revreq;
        EXPECT_EQ(bytes_of(r->serial), std::string("\xA1\xB2\xC3\xD4"));
        EXPECT_EQ(r->reason, 5);
        // The signature vouches for the request: no emergency password needed.
        EXPECT_EQ(r->shared_secret, nullptr);
        EXPECT_EQ(bytes_of(r->comment), ansi("Прекращение работы"));
        EXPECT_EQ(bytes_of(control(cmc.get(), NID_CMC_TRANSACTION_ID)->value.bytes), "TID-0042");
    }
    // A changed content byte breaks the signature for the peer too.
    std::string der = *rewrap_econtent(der_of_pem(pem));
    der[der.size() / 3] ^= 0x01;
    std::ofstream(dir_ + "/signed.der", std::ios::binary) << der;
    EXPECT_NE(
        std::system(
            ("cd '" + dir_ +
             "' && openssl cms -verify -engine gost -inform DER -in signed.der "
             "-CAfile signer.pem -partial_chain -purpose any -binary -out content.der >/dev/null "
             "2>&1")
                .c_str()),
        0);
}

TEST_F(SignedRevocation, SignerStepsFailInTheirOrder) {
    ASSERT_EQ(script(key_line() + R"(
q.UseInternalTID = 0;
q.createRvcBegin(dir + '/cert.pem', 1, '', 'c', '');
attempt(function () { return q.createRvcEndSigned('b:\\store', dir + '/signer.pem', key); });
q.TID = '1';
attempt(function () { return q.createRvcEndSigned('b:\\store', '', key); });
attempt(function () { return q.createRvcEndSigned('b:\\store', dir + '/signer.pem', ''); });
attempt(function () { return q.createRvcEndSigned('b:\\nostore', dir + '/signer.pem', key); });
attempt(function () { return q.createRvcEndSigned('b:\\store', dir + '/signer.pem', 'b:\\keys\\none.key'); });
attempt(function () { return q.createRvcEndSigned('b:\\store', dir + '/cert.pem', key); });
attempt(function () { return q.createFileRvcEndSigned('b:\\store', dir + '/cert.pem', key, dir + '/x.pem'); });
// The unsigned End needs the emergency password the signed one does without.
attempt(function () { return q.createRvcEnd(); });
)"),
              0)
        << err_;
    EXPECT_EQ(lines(), (std::vector<std::string>{
                           alert(15021, "The Transaction ID (TID) is Empty"),
                           alert(15020, "The Certificate for CMS signing is undefined Error"),
                           alert(15038, "Private Key Path is not defined"),
                           alert(15006, "Vambrace3_1 Container is Bad"),
                           alert(15030, "Private Key File Read Error"),
                           alert(15025, "Certificate and PKey are not in Pair"),
                           alert(15025, "Certificate and PKey are not in Pair"),
                           alert(15036, "The Emergency Password must be defined")}));
    EXPECT_FALSE(fs::exists(dir_ + "/x.pem"));
}

}  // namespace
}  // namespace cadb::enrol::test
