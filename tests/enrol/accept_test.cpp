// Acceptance of an authority's answer as a page does it: requests made by the
// openssl command with its GOST engine, answered by the test authority, and
// handed to the enrolment object through the script host as text and files.
#include <cstdlib>
#include <filesystem>

#include "tests/enrol/script_fixture.h"

namespace cadb::enrol::test {
namespace {

namespace fs = std::filesystem;

class Accept : public ScriptHost {
  protected:
    void SetUp() override {
        ScriptHost::SetUp();
        const std::string cmd = "cd '" + dir_ +
                                "' && openssl req -engine gost -new -newkey gost2001 -pkeyopt "
                                "paramset:A -nodes -subj '/C=RU/O=Org/CN=Ivanov' -keyout "
                                "key.pem -out req.pem >/dev/null 2>&1";
        ASSERT_EQ(std::system(cmd.c_str()), 0);
    }
    // Runs the test authority on the request; its answer lands in dir_/name.
    void answer(const std::string& name, const std::string& options = "") {
        const std::string cmd = std::string(TEST_CA) + " " + options + " '" + dir_ +
                                "/req.pem' '" + dir_ + "/" + name + "'";
        ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
    }
    std::string read(const std::string& name) {
        std::ifstream in(dir_ + "/" + name, std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }
    void write(const std::string& name, const std::string& bytes) {
        std::ofstream(dir_ + "/" + name, std::ios::binary) << bytes;
    }
    // The script sees the folder of the test as WScript.Arguments(0).
    int script(const std::string& body) {
        return run("var dir = WScript.Arguments(0);\n"
                   "var q = new ActiveXObject('Quillon.Quillon');\n"
                   "function attempt(f) {\n"
                   "  try { var r = f(); WScript.Echo(r); }\n"
                   "  catch (e) { WScript.Echo((e.number >>> 0).toString(16) + ' ' + "
                   "e.description); }\n"
                   "}\n" +
                       body,
                   "'" + dir_ + "'");
    }
};

TEST_F(Accept, PemTextDerFileAndPemFile) {
    answer("resp.pem");
    answer("resp.der", "-der");
    ASSERT_EQ(script(R"(
attempt(function () { return q.CertPathLen(); });
attempt(function () { return q.acceptFilePKCS7(dir + '/resp.der'); });
attempt(function () { return q.CertPathLen(); });
attempt(function () { return q.acceptFilePKCS7(dir + '/resp.pem'); });
attempt(function () { return q.CertPathLen(); });
)"),
              0)
        << err_;
    EXPECT_EQ(out_,
              "80043ac1 PKCS#7 Response is not accepted\n0\n2\n0\n2\n");
}

// A JavaScript string literal of the text.
std::string js(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
        if (c == '\\' || c == '\'') out += '\\', out += c;
        else if (c == '\n') out += "\\n";
        else if (c == '\r') out += "\\r";
        else out += c;
    }
    return out + "'";
}

TEST_F(Accept, TextUnderAnyLabelAndBrokenInputsClearEarlierState) {
    answer("resp.pem");
    answer("cms.pem", "-label CMS");
    answer("tampered.pem", "-tamper");
    answer("nosign.pem", "-nosign");
    answer("resp.der", "-der");
    const std::string der = read("resp.der");
    write("truncated.der", der.substr(0, der.size() / 2));
    write("empty.der", "");
    std::string cms = read("cms.pem");
    // A base64 body with its own line breaks, cut differently from PEM's.
    std::string body = cms.substr(cms.find('\n') + 1);
    body = body.substr(0, body.find("-----"));
    std::string joined;
    for (char c : body)
        if (c != '\n') joined += c;
    const std::string one_line = "-----BEGIN SOMETHING-----" + joined + "-----END SOMETHING-----";
    ASSERT_EQ(script("var resp = " + js(read("resp.pem")) + ", cms = " + js(cms) +
                     ", oneLine = " + js(one_line) + ", tampered = " + js(read("tampered.pem")) +
                     ", nosign = " + js(read("nosign.pem")) + ";\n" + R"(
attempt(function () { return q.acceptPKCS7(cms); });
attempt(function () { return q.CertPathLen(); });
attempt(function () { return q.acceptPKCS7(nosign); });
attempt(function () { return q.CertPathLen(); });
attempt(function () { return q.acceptPKCS7(oneLine); });
// Each of these is refused after a good answer and leaves no certificate.
var refused = [
  function () { return q.acceptPKCS7(tampered); },
  function () { return q.acceptPKCS7('no dashes in here at all'); },
  function () { return q.acceptPKCS7(resp.substring(0, resp.length / 2)); },
  function () { return q.acceptFilePKCS7(dir + '/truncated.der'); },
  function () { return q.acceptFilePKCS7(dir + '/empty.der'); },
  function () { return q.acceptFilePKCS7(dir + '/missing.der'); },
  function () { return q.acceptFilePKCS7(''); }
];
for (var i = 0; i < refused.length; i++) {
  q.acceptPKCS7(resp);
  attempt(refused[i]);
  attempt(function () { return q.CertPathLen(); });
}
// An empty text changes nothing.
attempt(function () { return q.acceptPKCS7(resp); });
attempt(function () { return q.acceptPKCS7(''); });
attempt(function () { return q.CertPathLen(); });
)"),
              0)
        << err_;
    std::string refused;
    for (int i = 0; i < 7; ++i) refused += "80043ac1 PKCS#7 Response is not accepted\n0\n";
    EXPECT_EQ(out_, "0\n2\n0\n2\n0\n" + refused + "0\n1\n2\n");
}

TEST_F(Accept, KeySearchWithoutAStoreFindsNothing) {
    answer("resp.pem", "-cert '" + dir_ + "/cert.pem'");
    ASSERT_EQ(script(R"(
var name = q.FindPairPKeyByCert(dir + '/cert.pem', dir + '/no-store', dir, 0);
WScript.Echo(name === null ? 'none' : 'found ' + name);
)"),
              0)
        << err_;
    EXPECT_EQ(out_, "none\n");
}

TEST_F(Accept, CertificatesAsEscapedXml) {
    const std::string cmd = "cd '" + dir_ +
                            "' && openssl req -engine gost -new -newkey gost2001 -pkeyopt "
                            "paramset:A -nodes -subj '/O=<b>&amp;/CN=A<b>&\"c' -keyout "
                            "key.pem -out req.pem >/dev/null 2>&1";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    answer("resp.pem", "-cert '" + dir_ + "/cert.pem'");
    ASSERT_EQ(script("var resp = " + js(read("resp.pem")) + ";\n" + R"(
attempt(function () { return q.CertXML(0, 8); });
q.acceptPKCS7(resp);
var xml = q.CertXML(0, 8);
WScript.Echo(xml.indexOf('<ASN1Document') >= 0, xml.indexOf('A&lt;b&gt;&amp;"c') >= 0,
             xml.indexOf('&lt;b&gt;&amp;amp;') >= 0, xml.indexOf('A<b>') < 0);
WScript.Echo(q.CertXML(1, 8).indexOf('Test CA') >= 0);
var held = {value: 'untouched'};
q.CertXML(0, 3, held);
WScript.Echo(held.value);
attempt(function () { return q.CertXML(2, 8); });
attempt(function () { return q.CertXML(-1, 8); });
var file = q.GetCertFileXML(dir + '/cert.pem');
WScript.Echo(file == xml);
attempt(function () { return q.GetCertFileXML(''); });
attempt(function () { return q.GetCertFileXML(dir + '/resp.pem'); });
)"),
              0)
        << err_;
    EXPECT_EQ(out_,
              "80043ac1 PKCS#7 Response is not accepted\ntrue true true true\ntrue\nuntouched\n"
              "80043ac2 Extra Certificate Index Error\n80043ac2 Extra Certificate Index Error\n"
              "true\n80043ac7 Certificate File is not defined or bad\n"
              "80043ac7 Certificate File is not defined or bad\n");
}

TEST_F(Accept, SignedResponseOutputs) {
    answer("cmc.pem", "-cmc -tid 7F0041 -status 2 -fail 4 -text Refused");
    answer("cmc.der", "-cmc -der -tid 01");
    answer("tampered.pem", "-cmc -tamper");
    answer("plain.pem");
    const std::string der = read("cmc.der");
    write("truncated.der", der.substr(0, der.size() - 10));
    write("empty.der", "");
    ASSERT_EQ(script("var cmc = " + js(read("cmc.pem")) + ", tampered = " +
                     js(read("tampered.pem")) + ", plain = " + js(read("plain.pem")) + ";\n" +
                     R"(
function outs() {
  var o = [];
  for (var i = 0; i < 7; i++) o.push({value: 'keep'});
  return o;
}
function show(o) {
  var t = [];
  for (var i = 0; i < 7; i++) t.push(typeof o[i].value == 'string' ? o[i].value.replace(/\n/g, '|') : o[i].value);
  return t.join(' ; ');
}
var o = outs();
WScript.Echo(q.AcceptPKCS7Response(cmc, 1, o[0], o[1], o[2], o[3], o[4], o[5], o[6]));
var id = o[0].value;
WScript.Echo(id.length, id.charCodeAt(0), id.charCodeAt(1), id.charCodeAt(2));
o[0].value = 'id';
WScript.Echo(show(o));
o = outs();
WScript.Echo(q.AcceptPKCS7ResponseFile(dir + '/cmc.der', 0, o[0], o[1], o[2], o[3], o[4], o[5], o[6]));
WScript.Echo(o[0].value.charCodeAt(0), o[4].value, o[5].value, o[6].value);
o = outs();
WScript.Echo(q.AcceptPKCS7Response(tampered, 1, o[0], o[1], o[2], o[3], o[4], o[5], o[6]));
WScript.Echo(o[2].value, o[3].value.length > 0, o[4].value);
o = outs();
WScript.Echo(q.AcceptPKCS7Response(plain, 1, o[0], o[1], o[2], o[3], o[4], o[5], o[6]));
WScript.Echo(o[0].value, o[4].value, o[6].value);
o = outs();
attempt(function () { return q.AcceptPKCS7ResponseFile(dir + '/truncated.der', 0, o[0], o[1], o[2], o[3], o[4], o[5], o[6]); });
attempt(function () { return q.AcceptPKCS7ResponseFile(dir + '/empty.der', 0, o[0], o[1], o[2], o[3], o[4], o[5], o[6]); });
attempt(function () { return q.AcceptPKCS7ResponseFile('', 0, o[0], o[1], o[2], o[3], o[4], o[5], o[6]); });
attempt(function () { return q.AcceptPKCS7Response('no message', 0, o[0], o[1], o[2], o[3], o[4], o[5], o[6]); });
WScript.Echo(show(o));
)"),
              0)
        << err_;
    EXPECT_EQ(out_,
              "0\n3 127 0 65\n"
              "id ; C=RU, O=Test Authority, CN=Test CA| ; C=RU, O=Test Authority, CN=Test CA| ; "
              "01 ; 2 ; 4 ; Refused\n"
              "0\n1 0 -1 keep\n"
              "0\nC=RU, O=Test Authority, CN=Test CA\n true 0\n"
              "0\nkeep keep keep\n"
              "80043acb Response Bad PKCS#7 Interpretation\n"
              "80043ac1 PKCS#7 Response is not accepted\n"
              "80043aca Response PKCS#7 Message is not defined or bad\n"
              "80043acb Response Bad PKCS#7 Interpretation\n"
              "keep ; keep ; keep ; keep ; keep ; keep ; keep\n");
}

}  // namespace
}  // namespace cadb::enrol::test
