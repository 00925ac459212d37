// Two-step requests as a page walks them: a Begin that makes the key and an
// End that hands out the request, plain or as a PKCS#10 request inside a CMC
// request inside CMS signed data. The plain requests and the signed message
// are checked by the openssl command with Debian's GOST engine (a child
// process); the CMC content by the library's own CMC reader.
#include <iconv.h>

#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <set>

#include "crypto/cadb/buffer.h"
#include "crypto/cms/cmc.h"
#include "crypto/core/objects.h"
#include "crypto/init/init.h"
#include "crypto/x509/pkcs10.h"
#include "tests/enrol/cmc_reading.h"
#include "tests/enrol/script_fixture.h"

namespace cadb::enrol::test {
namespace {

namespace fs = std::filesystem;

// Code page 1251 bytes as UTF-16 code units.
std::u16string from_cp1251(const std::string& bytes) {
    iconv_t cd = iconv_open("UTF-16LE", "CP1251");
    std::string out(bytes.size() * 2, '\0');
    char* in = const_cast<char*>(bytes.data());
    char* to = out.data();
    std::size_t in_left = bytes.size(), out_left = out.size();
    const std::size_t r = iconv(cd, &in, &in_left, &to, &out_left);
    iconv_close(cd);
    if (r == static_cast<std::size_t>(-1)) return u"<no conversion>";
    std::u16string units;
    for (std::size_t i = 0; i + 1 < out.size() - out_left + 1; i += 2)
        units.push_back(static_cast<char16_t>(static_cast<unsigned char>(out[i]) |
                                              (static_cast<unsigned char>(out[i + 1]) << 8)));
    return units;
}

// The text a script printed as character codes ("41,42,") back as UTF-16.
std::u16string from_codes(const std::string& codes) {
    std::u16string out;
    for (std::size_t at = 0; at < codes.size();) {
        const std::size_t comma = codes.find(',', at);
        if (comma == std::string::npos) break;
        out.push_back(static_cast<char16_t>(std::stoul(codes.substr(at, comma - at), nullptr, 16)));
        at = comma + 1;
    }
    return out;
}

class TwoStep : public ScriptDrive {
  protected:
    // Runs a command; its output (stdout and stderr) in *text, true on exit 0.
    static bool shell(const std::string& cmd, std::string* text = nullptr) {
        FILE* pipe = popen((cmd + " 2>&1").c_str(), "r");
        std::string out;
        char buf[4096];
        std::size_t n;
        while ((n = fread(buf, 1, sizeof buf, pipe)) > 0) out.append(buf, n);
        const int status = pclose(pipe);
        if (text) *text = out;
        return status == 0;
    }
    // openssl req -verify with the GOST engine on a request file.
    bool request_verifies(const std::string& file, const char* inform, std::string* text) const {
        std::string out;
        const bool ok = shell(std::string("openssl req -engine gost -inform ") + inform +
                                  " -in '" + file + "' -verify -noout -text",
                              &out);
        if (text) *text = out;
        return ok && out.find("verify OK") != std::string::npos;
    }
    bool pem_request_verifies(const std::string& pem, std::string* text = nullptr) const {
        const std::string file = dir_ + "/req.pem";
        std::ofstream(file, std::ios::binary) << pem;
        return request_verifies(file, "PEM", text);
    }
    static std::string block(const std::string& out, const std::string& label) {
        const std::string begin = "-----BEGIN " + label + "-----";
        const std::string end = "-----END " + label + "-----";
        const auto from = out.find(begin);
        const auto to = out.find(end, from == std::string::npos ? 0 : from);
        if (from == std::string::npos || to == std::string::npos) return "";
        return out.substr(from, to - from + end.size()) + "\n";
    }

    // A key and certificate to sign with: a one-step request on drive b
    // (key files 00000001.key and its reserve copy 00000002.key), answered by
    // the test authority.
    void make_signer() {
        ASSERT_EQ(run(std::string(kPrelude) +
                      "WScript.Echo(q.createPKCS10('CN=Signer;O=Org;', '1.3.6.1.5.5.7.3.2'));"),
                  0)
            << err_;
        const std::string pem = block(out_, "CERTIFICATE REQUEST");
        ASSERT_FALSE(pem.empty()) << out_ << err_;
        std::ofstream(dir_ + "/signer-req.pem") << pem;
        const std::string cmd = std::string(TEST_CA) + " -cert '" + dir_ + "/signer.pem' '" +
                                dir_ + "/signer-req.pem' '" + dir_ + "/signer-resp.pem'";
        ASSERT_TRUE(shell(cmd)) << cmd;
        signer_cert_ = dir_ + "/signer.pem";
    }

    // The content of a signed message, checked by openssl with the GOST
    // engine and read by the library's CMC reader. The message carries its
    // PKIData as the DER itself under the content's [0], as PKCS#7 did for a
    // content type other than data; openssl reads only CMS's OCTET STRING
    // there, so the bytes are handed to it wrapped in one. The signature and
    // the digest it checks are the message's own.
    CmcPtr verified_cmc(const std::string& cms_pem) {
        const std::string pem = dir_ + "/cms.pem", der = dir_ + "/cms.der",
                          wrapped = dir_ + "/cms-octets.der", content = dir_ + "/content.der";
        std::ofstream(pem, std::ios::binary) << cms_pem;
        EXPECT_TRUE(shell("sed '1d;$d' '" + pem + "' | openssl base64 -d -out '" + der + "'"));
        const std::string cms = read_file(der);
        const std::string octets = with_octet_string_content(cms);
        EXPECT_FALSE(octets.empty()) << "no PKIData content under [0]";
        std::ofstream(wrapped, std::ios::binary) << octets;
        std::string text;
        const bool ok = shell("openssl cms -verify -engine gost -inform DER -in '" + wrapped +
                                  "' -noverify -binary -out '" + content + "'",
                              &text);
        EXPECT_TRUE(ok && text.find("Verification successful") != std::string::npos) << text;
        const std::string body = read_file(content);
        // openssl hands out exactly the PKIData the message carries.
        EXPECT_NE(cms.find(body), std::string::npos);
        return CmcPtr(CMS_read(reinterpret_cast<const unsigned char*>(body.data()),
                               static_cast<long>(body.size()), 251));
    }

    // The message with its PKIData content (right after the id-cct-PKIData
    // type and an indefinite [0]) put inside an OCTET STRING.
    static std::string with_octet_string_content(const std::string& cms) {
        static const std::string kPkiDataType = "\x06\x08\x2b\x06\x01\x05\x05\x07\x0c\x02";
        const auto type_at = cms.find(kPkiDataType);
        if (type_at == std::string::npos) return "";
        const std::size_t at = type_at + kPkiDataType.size();
        if (cms.compare(at, 2, "\xa0\x80") != 0 || cms[at + 2] != '\x30') return "";
        // The definite length of the SEQUENCE.
        const auto byte = [&cms](std::size_t i) { return static_cast<unsigned char>(cms[i]); };
        std::size_t header = 2, length = byte(at + 3);
        if (length & 0x80) {
            const std::size_t n = length & 0x7f;
            length = 0;
            for (std::size_t i = 0; i < n; ++i) length = (length << 8) | byte(at + 4 + i);
            header += n;
        }
        const std::size_t total = header + length;
        std::string len;
        if (total < 0x80) {
            len.push_back(static_cast<char>(total));
        } else {
            std::string digits;
            for (std::size_t v = total; v; v >>= 8) digits.insert(digits.begin(), static_cast<char>(v & 0xff));
            len.push_back(static_cast<char>(0x80 | digits.size()));
            len += digits;
        }
        std::string out = cms;
        out.insert(at + 2, "\x04" + len);
        // The SignedData inside the outer indefinite ContentInfo and [0]
        // carries a two-byte definite length: it grows by what was put in.
        constexpr std::size_t kSignedData = 2 + 11 + 2;
        if (out.compare(kSignedData, 2, "\x30\x82") != 0) return "";
        const std::size_t grown = (static_cast<std::size_t>(byte(kSignedData + 2)) << 8 |
                                   byte(kSignedData + 3)) + 1 + len.size();
        if (grown > 0xffff) return "";
        out[kSignedData + 2] = static_cast<char>(grown >> 8);
        out[kSignedData + 3] = static_cast<char>(grown & 0xff);
        return out;
    }

    static std::string transaction_id(const CMC* cmc, int* body_part) {
        for (int i = 0; i < sk_CMS_TATTR_num(cmc->controls); ++i) {
            const CMS_TATTR* a = sk_CMS_TATTR_value(cmc->controls, i);
            if (a->type != NID_CMC_TRANSACTION_ID) continue;
            if (body_part) *body_part = a->body_part_id;
            return std::string(reinterpret_cast<const char*>(a->value.bytes->data),
                               static_cast<std::size_t>(a->value.bytes->length));
        }
        return "<none>";
    }

    static constexpr const char* kPrelude = R"(
var q = new ActiveXObject('Quillon.Quillon');
q.ProviderName = 'ГОСТ Р 34.10-2001 CP';
q.ContainerName = 'b:\\store';
q.DefaultPKeyPath = 'b:\\keys';
function attempt(f) {
  try { WScript.Echo(f()); } catch (e) { WScript.Echo((e.number >>> 0).toString(16), e.description); }
}
function codes(s) { var o = ''; for (var i = 0; i < s.length; ++i) o += s.charCodeAt(i).toString(16) + ','; return o; }
)";

    std::string signer_cert_;
};

TEST_F(TwoStep, PlainRequestToAStringAndToAFile) {
    ASSERT_EQ(run(std::string(kPrelude) + R"(
q.createRequestBegin(32, 'C=RU;O=Org;CN=Иванов;', '1.3.6.1.5.5.7.3.2,1.3.6.1.5.5.7.3.4', 1);
WScript.Echo('keys after Begin:', q.IsFileExists('b:\\keys\\00000001.key'));
// the three strings are not used by the plain End
var first = q.createRequestEnd('nothing', 'is', 'used');
var again = q.createRequestEnd('', '', '');
WScript.Echo(first);
WScript.Echo('same request again:', first == again);
WScript.Echo('PRINTABLE[' + q.P10_PrintableText() + ']');
q.createFileRequestBegin(32, 'CN=file;', '', 'b:\\out\\req.pem', 1);
attempt(function () { q.createFileRequestEnd('', '', ''); return 'done'; });
)"),
              0)
        << err_;
    EXPECT_NE(out_.find("keys after Begin: 1"), std::string::npos) << out_;
    // A new signature each time, over the same key and subject.
    EXPECT_NE(out_.find("same request again: false"), std::string::npos) << out_;
    const std::string pem = block(out_, "CERTIFICATE REQUEST");
    std::string text;
    ASSERT_TRUE(pem_request_verifies(pem, &text)) << text;
    EXPECT_NE(text.find("X509v3 Basic Constraints: critical"), std::string::npos) << text;
    EXPECT_NE(text.find("X509v3 Key Usage: critical"), std::string::npos) << text;
    EXPECT_NE(text.find("TLS Web Client Authentication, E-mail Protection"), std::string::npos)
        << text;

    // The printable request: the text, lines of 80 characters at most, then
    // the PEM of the last request.
    const auto from = out_.find("PRINTABLE[");
    const auto to = out_.find("]", out_.find("-----END CERTIFICATE REQUEST-----", from));
    ASSERT_NE(to, std::string::npos);
    const std::string printable = out_.substr(from + 10, to - from - 10);
    EXPECT_EQ(printable.rfind("Certificate Request:", 0), 0u) << printable;
    std::istringstream lines(printable);
    for (std::string line; std::getline(lines, line);) EXPECT_LE(line.size(), 80u) << line;
    EXPECT_NE(printable.find("-----BEGIN CERTIFICATE REQUEST-----"), std::string::npos);

    EXPECT_NE(out_.find("done"), std::string::npos) << out_;  // the file End's S_OK
    ASSERT_TRUE(fs::exists(drive_ + "/out/req.pem"));
    EXPECT_TRUE(request_verifies(drive_ + "/out/req.pem", "PEM", &text)) << text;
    const std::string written = read_file(drive_ + "/out/req.pem");
    EXPECT_EQ(written.find('\r'), std::string::npos) << "the plain file End writes bytes as they are";
}

TEST_F(TwoStep, RefusedKindsAndEmptyNames) {
    ASSERT_EQ(run(std::string(kPrelude) + R"(
attempt(function () { return q.createRequestBegin(34, 'CN=x;', '', 1); });
attempt(function () { return q.createRequestEnd('', '', '') === null; });
attempt(function () { q.createFileRequestEnd('', '', ''); return 'done'; });
attempt(function () { return q.createRequestBegin(7, 'CN=x;', '', 1); });
attempt(function () { return q.createRequestEnd('', '', '') === null; });
attempt(function () { return q.createRequestBegin(32, '', '', 1); });
attempt(function () { return q.createRequestBegin(33, 'O=Org;', '', 1); });
attempt(function () { return q.createRequestEnd('', '', ''); });
attempt(function () { return q.createRequestBegin(32, 'CN=x;', 'clientAuth', 1); });
attempt(function () { return q.createRequestEnd('', '', ''); });
)"),
              0)
        << err_;
    EXPECT_EQ(out_,
              "80043aab Unknown Request Type\n"
              "true\n"
              "done\n"
              "80043aab Unknown Request Type\n"
              "true\n"
              "80043aa3 Distinguish Name is Empty\n"
              "80043aa4 Common Name Attribute is Empty\n"
              // a CMC Begin that failed leaves nothing an End could sign
              "80043aa7 PKCS#10 Generation Error\n"
              "80043ace Bad OID\n"
              "80043aa7 PKCS#10 Generation Error\n");
    // Nothing was made on the medium.
    EXPECT_TRUE(files().empty());
}

TEST_F(TwoStep, ExtensionsFollowTheBeginsOfTheObject) {
    ASSERT_EQ(run(std::string(kPrelude) + R"(
var bare = new ActiveXObject('Quillon.Quillon');
bare.ProviderName = 'ГОСТ Р 34.10-2001 CP';
bare.ContainerName = 'b:\\store';
bare.DefaultPKeyPath = 'b:\\keys';
bare.createRequestBegin(32, 'CN=bare;', '1.3.6.1.5.5.7.3.2', 0);
WScript.Echo(bare.createRequestEnd('', '', ''));
// a template's key usage (digitalSignature, not critical) and key identifier
WScript.Echo(q.addExtensionToRequest(-1, 'xml_text', '<?xml version="1.0"?><Request>' +
  '<CertificationRequestInfo><Attributes>' +
  '<Object><OID>2.5.29.14</OID><Data type="OCTET_STRING">0403010203</Data></Object>' +
  '<Object><OID>2.5.29.15</OID><Data type="OCTET_STRING">03020780</Data></Object>' +
  '</Attributes></CertificationRequestInfo></Request>'));
q.createRequestBegin(32, 'CN=first;', '1.3.6.1.5.5.7.3.2', 1);
q.createRequestBegin(32, 'CN=second;', '1.3.6.1.5.5.7.3.4', 0);
WScript.Echo(q.createRequestEnd('', '', ''));
)"),
              0)
        << err_;
    const std::string bare = block(out_, "CERTIFICATE REQUEST");
    const std::string second =
        block(out_.substr(out_.find("-----END CERTIFICATE REQUEST-----") + 10),
              "CERTIFICATE REQUEST");
    std::string text;
    ASSERT_TRUE(pem_request_verifies(bare, &text)) << text;
    EXPECT_EQ(text.find("X509v3"), std::string::npos) << "no extension asked: " << text;
    ASSERT_TRUE(pem_request_verifies(second, &text)) << text;
    // The second Begin keeps what the first put on the stack.
    EXPECT_NE(text.find("CN = second"), std::string::npos) << text;
    EXPECT_NE(text.find("X509v3 Basic Constraints: critical"), std::string::npos) << text;
    EXPECT_NE(text.find("TLS Web Client Authentication"), std::string::npos) << text;
    EXPECT_EQ(text.find("E-mail Protection"), std::string::npos) << text;
    // What the template put first stays: its key usage, not the Begin's.
    EXPECT_NE(text.find("X509v3 Subject Key Identifier"), std::string::npos) << text;
    EXPECT_NE(text.find("01:02:03"), std::string::npos) << text;
    EXPECT_NE(text.find("X509v3 Key Usage: \n                    Digital Signature\n"),
              std::string::npos)
        << text;
}

TEST_F(TwoStep, WithoutDefaultExtensionsUsageIsNotLookedAt) {
    ASSERT_EQ(run(std::string(kPrelude) + R"(
attempt(function () { return q.createRequestBegin(32, 'CN=plain;', 'clientAuth', 0); });
WScript.Echo(q.createRequestEnd('', '', ''));
attempt(function () { return q.createRequestBegin(32, 'CN=plain;', 'clientAuth', 1); });
)"),
              0)
        << err_;
    EXPECT_EQ(out_.substr(0, 2), "0\n") << out_;
    EXPECT_NE(out_.find("80043ace Bad OID\n"), std::string::npos) << out_;
    std::string text;
    ASSERT_TRUE(pem_request_verifies(block(out_, "CERTIFICATE REQUEST"), &text)) << text;
    EXPECT_NE(text.find("CN = plain"), std::string::npos) << text;
    EXPECT_EQ(text.find("X509v3"), std::string::npos) << text;
}

TEST_F(TwoStep, FileEndsWriteToTheFileOfTheLastFileBegin) {
    ASSERT_EQ(run(std::string(kPrelude) + R"(
q.createFileRequestBegin(32, 'CN=named;', '', 'b:\\first.pem', 1);
q.createRequestBegin(32, 'CN=later;', '', 1);
attempt(function () { q.createFileRequestEnd('', '', ''); return 'done'; });
q.createFileRequestBegin(32, 'CN=unnamed;', '', '', 1);
attempt(function () { q.createFileRequestEnd('', '', ''); return 'done'; });
)"),
              0)
        << err_;
    EXPECT_EQ(out_, "done\n80043aa8 PKCS#10 File Creation Error\n");
    std::string text;
    ASSERT_TRUE(request_verifies(drive_ + "/first.pem", "PEM", &text)) << text;
    EXPECT_NE(text.find("CN = later"), std::string::npos) << text;
}

TEST_F(TwoStep, SignedCmcRequestVerifiesAndCarriesItsParts) {
    make_signer();
    ASSERT_EQ(run(std::string(kPrelude) + "var cert = '" + signer_cert_ + R"(';
q.createRequestBegin(33, 'CN=Новый;O=Org;', '1.3.6.1.5.5.7.3.2', 1);
WScript.Echo('TID ' + codes(q.TID));
WScript.Echo('key before End:', q.IsFileExists('b:\\keys\\00000003.key'));
WScript.Echo(q.createRequestEnd('', cert, 'b:\\keys\\00000002.key'));
WScript.Echo('key after End:', q.IsFileExists('b:\\keys\\00000003.key'));
WScript.Echo('PRINTABLE[' + q.P10_PrintableText() + ']');
)"),
              0)
        << err_;
    EXPECT_NE(out_.find("key before End: 0"), std::string::npos) << out_;
    EXPECT_NE(out_.find("key after End: 1"), std::string::npos) << out_;
    const auto tid_at = out_.find("TID ");
    ASSERT_NE(tid_at, std::string::npos);
    const std::u16string tid = from_codes(out_.substr(tid_at + 4, out_.find('\n', tid_at) - tid_at - 4));
    EXPECT_EQ(tid.size(), 32u);

    const std::string cms = block(out_, "PKCS7");
    ASSERT_FALSE(cms.empty()) << out_;
    CmcPtr cmc = verified_cmc(cms);
    ASSERT_TRUE(cmc);
    int body_part = 0;
    const std::string id = transaction_id(cmc.get(), &body_part);
    EXPECT_EQ(body_part, 1);
    EXPECT_EQ(id.size(), 32u);
    EXPECT_EQ(id.find('\0'), std::string::npos);
    EXPECT_EQ(from_cp1251(id), tid) << "the identifier's bytes are its text in code page 1251";

    ASSERT_EQ(sk_CMP_TREQ_num(cmc->requests), 1);
    const CMP_TREQ* tagged = sk_CMP_TREQ_value(cmc->requests, 0);
    ASSERT_EQ(tagged->choice, CMP_TREQ_PKCS10);
    EXPECT_EQ(tagged->value.tcr->body_part_id, 2);
    BufferPtr der(PKCS10_get(tagged->value.tcr->request, 1));
    ASSERT_TRUE(der);
    const std::string req = dir_ + "/inner.der";
    std::ofstream(req, std::ios::binary)
        .write(reinterpret_cast<const char*>(der->data), der->length);
    std::string text;
    EXPECT_TRUE(request_verifies(req, "DER", &text)) << text;
    EXPECT_NE(text.find("O = Org"), std::string::npos) << text;
    EXPECT_NE(text.find("TLS Web Client Authentication"), std::string::npos) << text;

    // The printable request is the request the CMC carries.
    const std::string printable_pem =
        block(out_.substr(out_.find("PRINTABLE[")), "CERTIFICATE REQUEST");
    const std::string inner_pem = dir_ + "/inner.pem";
    ASSERT_TRUE(shell("openssl req -inform DER -in '" + req + "' -out '" + inner_pem + "'"));
    EXPECT_EQ(printable_pem, read_file(inner_pem));
}

TEST_F(TwoStep, CmcEndChecksInTheirOrder) {
    make_signer();
    ASSERT_EQ(run(std::string(kPrelude) + "var cert = '" + signer_cert_ + R"(';
q.UseInternalTID = 0;
q.createRequestBegin(33, 'CN=new;', '', 1);
attempt(function () { return q.createRequestEnd('', '', ''); });
attempt(function () { return q.createRequestEnd('', cert, 'b:\\keys\\00000002.key'); });
q.TID = 'tid-Ж';
// a certificate that is not there shows only when certificate and key are compared
attempt(function () { return q.createRequestEnd('', 'b:\\missing.pem', ''); });
attempt(function () { return q.createRequestEnd('', 'b:\\missing.pem', 'b:\\keys\\00000002.key'); });
attempt(function () { return q.createRequestEnd('', cert, 'b:\\keys\\00000009.key'); });
attempt(function () { return q.createRequestEnd('b:\\no-store', cert, 'b:\\keys\\00000002.key'); });
WScript.Echo(q.createRequestEnd('', cert, 'b:\\keys\\00000002.key'));
// 00000001.key now holds the new request's key, not the signer's
attempt(function () { return q.createRequestEnd('', cert, 'b:\\keys\\00000001.key'); });
// a Begin resets the identifier
q.createRequestBegin(33, 'CN=new;', '', 1);
attempt(function () { return q.createRequestEnd('', cert, 'b:\\keys\\00000002.key'); });
)"),
              0)
        << err_;
    const std::string cms = block(out_, "PKCS7");
    ASSERT_FALSE(cms.empty()) << out_;
    std::string without = out_;
    without.erase(without.find(cms), cms.size() + 1);  // and the line feed Echo adds
    EXPECT_EQ(without,
              "80043aac The Certificate for CMS signing is undefined Error\n"
              "80043aad The Transaction ID (TID) is Empty\n"
              "80043abe Private Key Path is not defined\n"
              "80043ab1 Certificate and PKey are not in Pair\n"
              "80043ab6 Private Key File Read Error\n"
              "80043a9e Vambrace3_1 Container is Bad\n"
              "80043ab1 Certificate and PKey are not in Pair\n"
              "80043aad The Transaction ID (TID) is Empty\n");
    CmcPtr cmc = verified_cmc(cms);
    ASSERT_TRUE(cmc);
    EXPECT_EQ(transaction_id(cmc.get(), nullptr), "tid-\xC6");
}

// A key read from its key file (UseExistingKeySet) is already on the medium:
// the CMC End does not write it again over the default key name, where it
// could replace another key.
TEST_F(TwoStep, AnExistingKeyIsNotWrittenAgainByTheCmcEnd) {
    make_signer();
    const std::string first = read_file(drive_ + "/keys/00000001.key");
    std::ofstream(drive_ + "/keys/other.key") << "another key";
    ASSERT_EQ(run(std::string(kPrelude) + "var cert = '" + signer_cert_ + R"(';
q.UseExistingKeySet = 1;
q.DefaultPKeyFileName = '00000002.key';
q.createRequestBegin(33, 'CN=again;', '', 1);
q.DefaultPKeyFileName = 'other.key';
WScript.Echo(q.createRequestEnd('', cert, 'b:\\keys\\00000001.key'));
)"),
              0)
        << err_;
    ASSERT_TRUE(verified_cmc(block(out_, "PKCS7")));
    EXPECT_EQ(read_file(drive_ + "/keys/00000001.key"), first);
    EXPECT_EQ(read_file(drive_ + "/keys/other.key"), "another key");
    EXPECT_FALSE(fs::exists(drive_ + "/keys/00000003.key"));
}

TEST_F(TwoStep, CmcFileEndSavesTheKeyAndWritesTheTextWithCrLf) {
    make_signer();
    fs::create_directories(drive_ + "/out");
    ASSERT_EQ(run(std::string(kPrelude) + "var cert = '" + signer_cert_ + R"(';
// no file Begin yet: the file End saves the key and writes no file
q.createRequestBegin(33, 'CN=keyonly;', '', 1);
attempt(function () { q.createFileRequestEnd('', cert, 'b:\\keys\\00000002.key'); return 'done'; });
WScript.Echo('key:', q.IsFileExists('b:\\keys\\00000003.key'));
q.createFileRequestBegin(33, 'CN=tofile;', '', 'b:\\out\\cms.p7', 1);
attempt(function () { q.createFileRequestEnd('', cert, 'b:\\keys\\00000002.key'); return 'done'; });
)"),
              0)
        << err_;
    EXPECT_EQ(out_, "done\nkey: 1\ndone\n");
    const std::set<std::string> f = files();
    EXPECT_EQ(f.count("out/cms.p7"), 1u);
    EXPECT_EQ(f.size(), 4u /*store*/ + 4u /*keys*/ + 1u) << ::testing::PrintToString(f);
    const std::string written = read_file(drive_ + "/out/cms.p7");
    ASSERT_NE(written.find("\r\n"), std::string::npos);
    std::string lf = written;
    for (auto at = lf.find("\r\n"); at != std::string::npos; at = lf.find("\r\n", at))
        lf.erase(at, 1);
    EXPECT_EQ(lf.find('\r'), std::string::npos) << "every line feed is preceded by one CR";
    CmcPtr cmc = verified_cmc(lf);
    ASSERT_TRUE(cmc);
    EXPECT_EQ(sk_CMP_TREQ_num(cmc->requests), 1);
}

// The signed request's file End and both revocation file Ends write into
// the folder named as it is: a folder that is not there fails them (15027
// for the request, S_FALSE for the revocations) and none is made.
TEST_F(TwoStep, FileEndsIntoAMissingFolderFailAndMakeNone) {
    make_signer();
    ASSERT_EQ(run(std::string(kPrelude) + "var cert = '" + signer_cert_ + R"(';
q.createFileRequestBegin(33, 'CN=tofile;', '', 'b:\\none\\cms.p7', 1);
attempt(function () { q.createFileRequestEnd('', cert, 'b:\\keys\\00000002.key'); return 'done'; });
q.createRvcBegin(cert, 1, 'p', 'c', '');
q.createFileRvcEnd('b:\\none\\rvc.txt');
WScript.Echo(WScript.LastResult);
q.createFileRvcEndSigned('', cert, 'b:\\keys\\00000002.key', 'b:\\none\\signed.p7');
WScript.Echo(WScript.LastResult);
)"),
              0)
        << err_;
    EXPECT_EQ(out_, "80043ab3 Certificate as File Save Error\n1\n1\n") << err_;
    EXPECT_FALSE(fs::exists(drive_ + "/none"));
}

}  // namespace
}  // namespace cadb::enrol::test
