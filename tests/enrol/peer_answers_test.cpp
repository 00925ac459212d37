// Answers as authorities other than the project's send them: a request made
// by the enrolment object on drive b:, its certificate issued by the openssl
// command with Debian's GOST engine under a root of the engine's own, and the
// chain handed back in the usual forms (a certificates-only .p7b in DER, PEM
// and bare base64, under the PKCS7 and the CMS label; signed data with the
// content attached or sent apart). Each is accepted, the certificate is
// saved byte for byte as issued, and its key is found on the drive.
#include <cstdlib>
#include <filesystem>
#include <iterator>

#include "tests/enrol/script_fixture.h"

namespace cadb::enrol::test {
namespace {

namespace fs = std::filesystem;

class PeerAnswers : public ScriptDrive {
  protected:
    void SetUp() override {
        ScriptDrive::SetUp();
        fs::create_directories(dir_ + "/saved");
        // The peer's root and the request of the enrolment object.
        sh("openssl req -engine gost -x509 -new -newkey gost2001 -pkeyopt paramset:A -nodes "
           "-subj '/C=RU/O=Peer Authority/CN=Peer Root' -days 30 -keyout ca.key -out ca.pem");
        ASSERT_EQ(run(R"(
var q = new ActiveXObject('Quillon.Quillon');
q.ProviderName = 'ГОСТ Р 34.10-2001 CP';
q.ContainerName = 'b:\\store';
q.DefaultPKeyPath = 'b:\\keys';
q.createFilePKCS10('C=RU;O=Org;CN=Petrov;', '1.3.6.1.5.5.7.3.2', WScript.Arguments(0) + '/req.pem');
)",
                      "'" + dir_ + "'"),
                  0)
            << err_;
        sh("openssl x509 -req -engine gost -in req.pem -CA ca.pem -CAkey ca.key -set_serial 0x1A2B "
           "-days 30 -out cert.pem && openssl x509 -in cert.pem -outform DER -out cert.der");
        ASSERT_FALSE(read("cert.der").empty());
        // Certificates only, as crl2pkcs7 makes the usual .p7b.
        sh("openssl crl2pkcs7 -nocrl -certfile cert.pem -certfile ca.pem -out chain.p7b && "
           "openssl crl2pkcs7 -nocrl -certfile cert.pem -certfile ca.pem -outform DER "
           "-out chain.der");
        // Signed by the root over a content of its own, the new certificate
        // beside the signer's.
        write("content.txt", "issued\n");
        sh("openssl cms -sign -engine gost -binary -nodetach -in content.txt -signer ca.pem "
           "-inkey ca.key -certfile cert.pem -outform PEM -out attached.pem && "
           "openssl smime -sign -engine gost -binary -nodetach -in content.txt -signer ca.pem "
           "-inkey ca.key -certfile cert.pem -outform PEM -out attached-p7.pem && "
           "openssl cms -sign -engine gost -binary -in content.txt -signer ca.pem -inkey ca.key "
           "-certfile cert.pem -outform DER -out detached.der");
    }

    void sh(const std::string& command) {
        const std::string cmd = "cd '" + dir_ + "' && (" + command + ") >/dev/null 2>&1";
        ASSERT_EQ(std::system(cmd.c_str()), 0) << command;
    }
    std::string read(const std::string& name) {
        std::ifstream in(dir_ + "/" + name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    void write(const std::string& name, const std::string& bytes) {
        std::ofstream(dir_ + "/" + name, std::ios::binary) << bytes;
    }
    // The base64 lines between the PEM header and footer.
    static std::string body_of(const std::string& pem) {
        const std::size_t from = pem.find('\n') + 1;
        return pem.substr(from, pem.find("-----END") - from);
    }
    static std::string relabelled(const std::string& pem, const std::string& label) {
        return "-----BEGIN " + label + "-----\n" + body_of(pem) + "-----END " + label + "-----\n";
    }
    static std::string js(const std::string& text) {
        std::string out = "'";
        for (char c : text) {
            if (c == '\\' || c == '\'') out += '\\', out += c;
            else if (c == '\n') out += "\\n";
            else if (c == '\r') out += "\\r";
            else out += c;
        }
        return out + "'";
    }
    // Accepts with the call, then shows the number of certificates and what
    // each one is (leaf, root, or the code CertXML answers with); saves the
    // one named Petrov as DER and as PEM.
    std::string accept_and_save(const std::string& call) {
        setenv("CADB_SAVE_DIR", (dir_ + "/saved").c_str(), 1);
        fs::remove_all(dir_ + "/saved");
        fs::create_directories(dir_ + "/saved");
        const int rc = run("var dir = WScript.Arguments(0);\n"
                           "var q = new ActiveXObject('Quillon.Quillon');\n"
                           "var r;\n"
                           "try { r = " + call + "; } catch (e) { r = (e.number >>> 0).toString(16); }\n"
                           "var n = 0, names = [];\n"
                           "try { n = q.CertPathLen(); } catch (e) {}\n"
                           "for (var i = 0; i < n; i++) {\n"
                           "  var xml;\n"
                           "  try { xml = q.CertXML(i, 8); }\n"
                           "  catch (e) { names.push((e.number >>> 0).toString(16)); continue; }\n"
                           "  if (xml.indexOf('Petrov') >= 0) { q.SaveCert(i, 1); q.SaveCert(i, 2); }\n"
                           "  names.push(xml.indexOf('Petrov') >= 0 ? 'leaf' : 'root');\n"
                           "}\n"
                           "WScript.Echo(r, n, names.join(','));\n",
                           "'" + dir_ + "'");
        unsetenv("CADB_SAVE_DIR");
        EXPECT_EQ(rc, 0) << err_;
        return out_;
    }
    // The certificate issued again, under a GOST R 34.10-2012 root (serial
    // 2012, files ca12.*), and the answers that root signs with the content
    // attached and sent apart.
    void issue_under_2012_root() {
        sh("openssl genpkey -engine gost -algorithm gost2012_256 -pkeyopt paramset:A "
           "-out ca12.key && "
           "openssl req -engine gost -x509 -new -key ca12.key -set_serial 0x2012 "
           "-subj '/C=RU/O=Peer Authority/CN=Root 2012' -days 30 -out ca12.pem && "
           "openssl x509 -in ca12.pem -outform DER -out ca12.der && "
           "openssl x509 -req -engine gost -in req.pem -CA ca12.pem -CAkey ca12.key "
           "-set_serial 0x1A2B -days 30 -out cert.pem && "
           "openssl x509 -in cert.pem -outform DER -out cert.der && "
           "openssl cms -sign -engine gost -binary -nodetach -in content.txt -signer ca12.pem "
           "-inkey ca12.key -certfile cert.pem -outform DER -out attached12.der && "
           "openssl cms -sign -engine gost -binary -in content.txt -signer ca12.pem "
           "-inkey ca12.key -certfile cert.pem -outform DER -out detached12.der");
    }
    void expect_saved_as_issued(const std::string& form) {
        EXPECT_EQ(read("saved/Petrov.der"), read("cert.der")) << form;
        EXPECT_EQ(read("saved/Petrov.cer"), read("cert.pem")) << form;
    }
};

TEST_F(PeerAnswers, CertificatesOnlyInEveryForm) {
    const std::string p7b = read("chain.p7b");
    ASSERT_EQ(p7b.rfind("-----BEGIN PKCS7-----", 0), 0u) << p7b;
    const struct {
        const char* form;
        std::string call;
    } forms[] = {
        {"DER file", "q.acceptFilePKCS7(dir + '/chain.der')"},
        {"PEM file", "q.acceptFilePKCS7(dir + '/chain.p7b')"},
        {"PEM text", "q.acceptPKCS7(" + js(p7b) + ")"},
        {"CMS label", "q.acceptPKCS7(" + js(relabelled(p7b, "CMS")) + ")"},
        {"bare base64", "q.acceptPKCS7(" + js(body_of(p7b)) + ")"},
    };
    for (const auto& f : forms) {
        EXPECT_EQ(accept_and_save(f.call), "0 2 leaf,root\n") << f.form << err_;
        expect_saved_as_issued(f.form);
    }
}

TEST_F(PeerAnswers, SignedWithTheContentAttachedOrSentApart) {
    const struct {
        const char* form;
        std::string call;
    } forms[] = {
        {"attached, CMS label", "q.acceptPKCS7(" + js(read("attached.pem")) + ")"},
        {"attached, PKCS7 label", "q.acceptFilePKCS7(dir + '/attached-p7.pem')"},
        {"detached DER", "q.acceptFilePKCS7(dir + '/detached.der')"},
    };
    for (const auto& f : forms) {
        const std::string out = accept_and_save(f.call);
        // The signer's certificate and the new one, in the message's order.
        EXPECT_TRUE(out == "0 2 root,leaf\n" || out == "0 2 leaf,root\n") << f.form << out << err_;
        expect_saved_as_issued(f.form);
    }
}

TEST_F(PeerAnswers, AnAttachedAnswerChangedOnItsWayIsRefused) {
    sh("openssl cms -cmsout -in attached.pem -inform PEM -outform DER -out attached.der");
    std::string der = read("attached.der");
    const std::size_t at = der.find("issued");
    ASSERT_NE(at, std::string::npos);
    der[at + 5] = 'r';
    write("changed.der", der);
    EXPECT_EQ(accept_and_save("q.acceptFilePKCS7(dir + '/changed.der')"), "80043ac1 0 \n") << err_;
}

// An answer signed with an algorithm the library does not compute (GOST R
// 34.10-2012 with its 2012 hash) reads alike with the content attached or
// sent apart: the certificate is accepted, the signer named from its
// identifier and, where its signature would be checked, skipped with a line
// in the log. The root, which the library cannot split, keeps its place,
// held as its bytes, and shows as XML like any other.
TEST_F(PeerAnswers, AnAnswerSignedWithAnAlgorithmNotComputedIsRead) {
    issue_under_2012_root();
    const std::string state = dir_ + "/state";
    setenv("XDG_STATE_HOME", state.c_str(), 1);
    for (const char* name : {"attached12.der", "detached12.der"}) {
        const std::string out =
            accept_and_save("q.acceptFilePKCS7(dir + '/" + std::string(name) + "')");
        EXPECT_TRUE(out == "0 2 root,leaf\n" || out == "0 2 leaf,root\n") << name << out << err_;
        expect_saved_as_issued(name);
        ASSERT_EQ(run("var o = [];\n"
                      "for (var i = 0; i < 7; i++) o.push({value: 'keep'});\n"
                      "var q = new ActiveXObject('Quillon.Quillon');\n"
                      "var r = q.AcceptPKCS7ResponseFile(WScript.Arguments(0), 1, o[0], o[1], "
                      "o[2], o[3], o[4], o[5], o[6]);\n"
                      "WScript.Echo(r, o[2].value, o[3].value);\n",
                      "'" + dir_ + "/" + name + "'"),
                  0)
            << err_;
        EXPECT_EQ(out_, "0 C=RU, O=Peer Authority, CN=Root 2012\n 2012\n") << name;
    }
    unsetenv("XDG_STATE_HOME");
    std::string log;
    for (const auto& e : fs::recursive_directory_iterator(state))
        if (e.is_regular_file()) log += read(fs::relative(e.path(), dir_).string());
    EXPECT_EQ(log.find("can't be Read"), std::string::npos) << log;
    EXPECT_NE(log.find("Signer [2012] with Algorithm [md_gost12_256 with gost2012_256] can't be "
                       "Computed ...Skipped!"),
              std::string::npos)
        << log;
}

// The GOST R 34.10-2012 root of an answer, which the library holds as its
// bytes alone, is shown as XML and saved byte for byte, as DER and as PEM,
// under its serial number (its display name is empty).
TEST_F(PeerAnswers, ARootHeldAsItsBytesIsShownAndSaved) {
    issue_under_2012_root();
    setenv("CADB_SAVE_DIR", (dir_ + "/saved").c_str(), 1);
    const int rc =
        run("var q = new ActiveXObject('Quillon.Quillon');\n"
            "q.acceptFilePKCS7(WScript.Arguments(0) + '/attached12.der');\n"
            "for (var i = 0; i < q.CertPathLen(); i++) {\n"
            "  var xml = q.CertXML(i, 8);\n"
            "  if (xml.indexOf('Petrov') >= 0) continue;\n"
            "  q.SaveCert(i, 1); q.SaveCert(i, 2);\n"
            "  WScript.Echo(i, xml.indexOf('Root 2012') >= 0);\n"
            "}\n",
            "'" + dir_ + "'");
    unsetenv("CADB_SAVE_DIR");
    ASSERT_EQ(rc, 0) << err_;
    EXPECT_TRUE(out_ == "0 true\n" || out_ == "1 true\n") << out_;
    EXPECT_EQ(read("saved/2012.der"), read("ca12.der"));
    EXPECT_EQ(read("saved/2012.cer"), read("ca12.pem"));
}

TEST_F(PeerAnswers, TheSavedCertificateFindsItsKey) {
    ASSERT_EQ(accept_and_save("q.acceptFilePKCS7(dir + '/chain.der')"), "0 2 leaf,root\n");
    ASSERT_EQ(run("var q = new ActiveXObject('Quillon.Quillon');\n"
                  "WScript.Echo(q.FindPairPKeyByCert(WScript.Arguments(0) + '/saved/Petrov.der', "
                  "'b:\\\\store', 'b:\\\\keys', 0));\n"
                  "WScript.Echo(q.FindPairPKeyByCert(WScript.Arguments(0) + '/ca.pem', "
                  "'b:\\\\store', 'b:\\\\keys', 0));\n",
                  "'" + dir_ + "'"),
              0)
        << err_;
    EXPECT_TRUE(out_ == "b:\\keys\\00000001.key\nnull\n" || out_ == "b:\\keys\\00000002.key\nnull\n")
        << out_;
}

TEST_F(PeerAnswers, SignedResponseReadsWithoutItsContent) {
    ASSERT_EQ(run(R"(
var dir = WScript.Arguments(0);
var q = new ActiveXObject('Quillon.Quillon');
function outs() {
  var o = [];
  for (var i = 0; i < 7; i++) o.push({value: 'keep'});
  return o;
}
function show(r, o) {
  var t = [r];
  for (var i = 0; i < 7; i++) t.push(typeof o[i].value == 'string' ? o[i].value.replace(/\n/g, '|') : o[i].value);
  return t.join(' ; ');
}
var o = outs();
WScript.Echo(show(q.AcceptPKCS7ResponseFile(dir + '/chain.der', 1, o[0], o[1], o[2], o[3], o[4], o[5], o[6]), o));
o = outs();
WScript.Echo(show(q.AcceptPKCS7ResponseFile(dir + '/detached.der', 1, o[0], o[1], o[2], o[3], o[4], o[5], o[6]), o));
o = outs();
WScript.Echo(show(q.AcceptPKCS7ResponseFile(dir + '/attached.pem', 1, o[0], o[1], o[2], o[3], o[4], o[5], o[6]), o));
)",
                  "'" + dir_ + "'"),
              0)
        << err_;
    const std::string root = "C=RU, O=Peer Authority, CN=Peer Root|";
    // Without signers nothing is named; a signer of content sent apart is
    // named from its identifier; an attached one from its certificate.
    std::string serial;
    {
        FILE* p = popen(("openssl x509 -in '" + dir_ + "/ca.pem' -noout -serial").c_str(), "r");
        char buf[256] = {};
        if (std::fgets(buf, sizeof buf, p) != nullptr) serial = buf;
        pclose(p);
    }
    ASSERT_EQ(serial.rfind("serial=", 0), 0u) << serial;
    serial = serial.substr(7, serial.find_last_not_of("\n") - 6);
    if (serial.size() % 2) serial = "0" + serial;
    EXPECT_EQ(out_, "0 ; keep ; keep ; keep ; keep ; keep ; keep ; keep\n"
                    "0 ; keep ; " + root + " ; " + root + " ; " + serial + " ; keep ; keep ; keep\n"
                    "0 ; keep ; " + root + " ; " + root + " ; " + serial + " ; keep ; keep ; keep\n")
        << err_;
}

}  // namespace
}  // namespace cadb::enrol::test
