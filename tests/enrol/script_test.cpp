// The enrolment object as a page script sees it: created by ProgID through the
// registry by the real script host.
#include <sys/stat.h>

#include "tests/enrol/script_fixture.h"

namespace cadb::enrol::test {
namespace {

TEST_F(ScriptHost, WScriptObject) {
    EXPECT_EQ(run("WScript.Echo('args', WScript.Arguments.length, WScript.Arguments(0),"
                  " WScript.Arguments.Item(1), WScript.Arguments.Count());"
                  "WScript.Quit(7); WScript.Echo('not reached');",
                  "first 'second one'"),
              7);
    EXPECT_EQ(out_, "args 2 first second one 2\n");
    EXPECT_EQ(run("throw new Error('broken');"), 1);
    EXPECT_NE(err_.find("broken"), std::string::npos);
    EXPECT_EQ(run("var x = new ActiveXObject('No.Such.Class');"), 1);
    EXPECT_NE(err_.find("Automation server can't create object"), std::string::npos);
}

TEST_F(ScriptHost, AlgorithmEnumeration) {
    ASSERT_EQ(run(R"(
var q = new ActiveXObject('Quillon.Quillon');
var names = [];
for (var i = 0; ; i++) {
  try { names.push(q.enumProviders(i, 0)); }
  catch (e) { WScript.Echo((e.number >>> 0).toString(16), e.description); break; }
}
WScript.Echo(names.join('|'));
WScript.Echo(q.EnumAlgs(0, 0x8000), q.GetAlgName(176), WScript.LastResult);
WScript.Echo(q.GetAlgName(271), WScript.LastResult);
q.ProviderName = 'RSA';
WScript.Echo(q.EnumAlgs(0, 0x8000), q.EnumAlgs(1, 0x8000), q.GetKeyLen(1, 0), q.GetKeyLen(0, 0));
var holder = {};
WScript.Echo(q.enumProviders(0, 0x8000, holder), holder.value);
)"),
              0)
        << err_;
    EXPECT_EQ(
        out_,
        "80043a9a No more providers\n"
        "ГОСТ Р 34.10-2001 CP|ГОСТ Р 34.10-94   CP|ГОСТ Р 34.10-2001|ГОСТ Р 34.10-94|RSA|DSA\n"
        "176 ГОСТ Р 34.11-94 0\n"
        "null 1\n"
        "64 4 512 2048\n"
        "0 ГОСТ Р 34.11-94\n");
}

TEST_F(ScriptHost, ErrorsCarryTheCodeAndTheEnglishText) {
    ASSERT_EQ(run(R"(
var q = new ActiveXObject('Quillon.Quillon.1');
function attempt(f) {
  try { f(); WScript.Echo('no error'); }
  catch (e) { WScript.Echo(e.number, (e.number >>> 0).toString(16), e.description, e.message); }
}
attempt(function () { q.ProviderName = 'SHA1'; });
attempt(function () { q.ProviderType = 1; });
attempt(function () { q.CertPathLen(); });
attempt(function () { q.acceptPKCS7('x'); });
attempt(function () { q.NoSuchMember(); });
attempt(function () { q.EnumAlgs('x', 0x8000); });
WScript.Echo(q.ProviderName, q.addExtensionToRequest(-1, 'other', ''), WScript.LastResult);
)"),
              0)
        << err_;
    EXPECT_EQ(
        out_,
        "-2147206500 80043a9c Bad Object Name Bad Object Name\n"
        "-2147206501 80043a9b Extra Object Index Extra Object Index\n"
        "-2147206463 80043ac1 PKCS#7 Response is not accepted PKCS#7 Response is not accepted\n"
        "-2147206463 80043ac1 PKCS#7 Response is not accepted PKCS#7 Response is not accepted\n"
        "-2146827850 800a01b6 Object doesn't support this property or method Object "
        "doesn't support this property or method\n"
        "-2147352571 80020005 Type mismatch Type mismatch\n"
        "ГОСТ Р 34.10-2001 1 1\n");
}

TEST_F(ScriptHost, PropertiesAndHolders) {
    ASSERT_EQ(run(R"(
var q = new ActiveXObject('Quillon.Quillon');
q.ContainerName = 'b:\\store\\';
q.DefaultPKeyPath = 'b:\\keys';
q.GenKeyFlags = (512 << 16) | 2;
q.HashAlgID = 64;
q.TID = 'транзакция';
WScript.Echo(q.DefaultPSEPath, q.DefaultPKeyPath, q.GenKeyFlags >> 16, q.GenKeyFlags & 2,
             q.HashAlgID, q.TID, q.PassOnContainer, q.UseInternalTID, q.UseExistingKeySet);
q.Reset();
WScript.Echo(q.containername, q.DEFAULTPKEYFILENAME);
var a = {value: 'kept'}, b = {value: 5};
try { q.AcceptPKCS7Response('', 1, a, b, {}, {}, {}, {}, {}); } catch (e) { WScript.Echo(e.description); }
WScript.Echo(a.value, b.value);
var n = {value: 1};
q.GetSupportedKeySpec(n);
WScript.Echo(n.value);
)"),
              0)
        << err_;
    EXPECT_EQ(out_,
              "b:\\store\\ b:\\keys 512 2 64 транзакция 0 1 0\n"
              "a:\\ 00000001.key\n"
              "Response Bad PKCS#7 Interpretation\n"
              "kept 5\n"
              "3\n");
}

TEST_F(ScriptHost, EveryMemberIsReachableByName) {
    // Calls each member with arguments of its types; a member the object did
    // not know would throw "doesn't support" (0x800A01B6) or 0x80020003.
    ASSERT_EQ(run(R"(
var q = new ActiveXObject('Quillon.Quillon');
var s = 'x', n = 0;
var calls = {
  createFilePKCS10: [s, s, s], acceptFilePKCS7: [s], createPKCS10: [s, s], acceptPKCS7: [s],
  getCertFromPKCS7: [s], enumProviders: [0, 0], addNameValuePairToRequest: [n, s, s], Reset: [],
  GetSupportedKeySpec: [], GetKeyLenEx: [n, n], GetKeyLen: [n, n], EnumAlgs: [0, 0x2000],
  GetAlgName: [n], addExtensionToRequest: [n, s, s], addAttributeToRequest: [n, s, s],
  resetExtensions: [], resetAttributes: [], createRequestBegin: [n, s, s, n],
  createFileRequestBegin: [n, s, s, s, n], createPFX: [s], createFilePFX: [s, s],
  getProviderType: [s], addBlobPropertyToCertificate: [n, n, s], resetBlobProperties: [],
  createFileRequestEnd: [s, s, s], createRequestEnd: [s, s, s], createRvcBegin: [s, n, s, s, s],
  createRvcEndSigned: [s, s, s], createRvcEnd: [], createFileRvcEndSigned: [s, s, s, s],
  createFileRvcEnd: [s], IsPSEExists: [s], IsFileExists: [s], DeletePSE: [s], CertPathLen: [],
  CertXML: [n, 8], CRLXML: [n, 8], SaveCert: [n, n], SaveCRL: [n, n], IsPSEPathReady: [s],
  DefMediaPKeyFileName: [n], FindPairPKeyByCert: [s, s, s, n], getAcceptedPKCS7Content: [],
  GetCertFileXML: [s], SaveCertAs: [s, s], SaveCRLAs: [s, s],
  AcceptPKCS7Response: [s, n, {}, {}, {}, {}, {}, {}, {}],
  AcceptPKCS7ResponseFile: [s, n, {}, {}, {}, {}, {}, {}, {}], P10_PrintableText: [],
  LoadPKCS10: [s], LoadPKCS10File: [s], BrowseDevuces: [s, n, n]
};
var props = ['ProviderName', 'ProviderType', 'KeySpec', 'UseExistingKeySet', 'HashAlgorithm',
  'HashAlgID', 'EnableSMIMECapabilities', 'ThumbPrint', 'ClientId', 'GenKeyFlags',
  'ContainerName', 'UseInternalTID', 'TID', 'DefaultPSEPath', 'DefaultPKeyPath',
  'DefaultPKeyFileName', 'PassOnContainer'];
var count = 0;
for (var name in calls) {
  var f = q[name];
  if (typeof f != 'function') { WScript.Echo('missing', name); continue; }
  try { f.apply(null, calls[name]); } catch (e) {
    var code = (e.number >>> 0).toString(16);
    if (code != '80004001' && code.substr(0, 5) != '80043') WScript.Echo(name, code, e.description);
  }
  count++;
}
for (var i = 0; i < props.length; i++) {
  var v = q[props[i]];
  q[props[i]] = (typeof v == 'string') ? v : 0;
  count++;
}
q.SignerCertificate = 'pem';
WScript.Echo(count + 1);
)"),
              0)
        << err_;
    EXPECT_EQ(out_, "70\n");
}

TEST_F(ScriptHost, ObjectsNotSafeForScriptingAreRefused) {
    ASSERT_EQ(std::system((std::string(REGSVR) + " " SCRIPT_OBJECTS_MODULE " >/dev/null").c_str()),
              0);
    const std::string script = R"(
function make(progid) {
  try { return 'made ' + new ActiveXObject(progid).Ping(); }
  catch (e) { return (e.number >>> 0).toString(16) + ' ' + e.description; }
}
WScript.Echo(make('Test.Plain'));
WScript.Echo(make('Test.Refusing'));
)";
    ASSERT_EQ(run(script), 0) << err_;
    EXPECT_EQ(out_,
              "800a01ad Automation server can't create object\n"
              "800a01ad Automation server can't create object\n");
    // The category "safely scriptable" lets an object without IObjectSafety through.
    ASSERT_TRUE(com::registry_update(
        [](com::Registry& reg) {
            reg.create_key(
                "HKCR\\CLSID\\{6E1A0101-0000-4000-8000-000000000001}\\Implemented Categories\\"
                "{7DD95801-9882-11CF-9FA9-00AA006C42C4}");
            return true;
        },
        registry_));
    ASSERT_EQ(run(script), 0) << err_;
    EXPECT_EQ(out_,
              "made 42\n"
              "800a01ad Automation server can't create object\n");
}

// A registry path naming a named pipe or a device fails registration and
// object creation at once instead of hanging or reading without end.
TEST_F(ScriptHost, RegistryThatIsNoFileIsRefused) {
    const std::string pipe = dir_ + "/pipe";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    for (const std::string& path : {pipe, std::string("/dev/zero")}) {
        setenv(com::kRegistryEnv, path.c_str(), 1);
        EXPECT_NE(
            std::system((std::string(REGSVR) + " " QUILLON_MODULE " >/dev/null 2>&1").c_str()), 0)
            << path;
        EXPECT_EQ(run("var q = new ActiveXObject('Quillon.Quillon');"), 1) << path;
        EXPECT_NE(err_.find("Automation server can't create object"), std::string::npos) << err_;
    }
    setenv(com::kRegistryEnv, registry_.c_str(), 1);
}

TEST_F(ScriptHost, DemoScriptShowsTheAlgorithmsAndDefaults) {
    // The demo makes its key store on drive a:, here a folder of the test.
    const std::string drive = dir_ + "/drive-a";
    std::filesystem::create_directories(drive);
    setenv("CADB_DRIVE_A", drive.c_str(), 1);
    const int status = run_file(EXAMPLES_DIR "/enrol.js");
    unsetenv("CADB_DRIVE_A");
    ASSERT_EQ(status, 0) << err_;
    EXPECT_NE(out_.find("ГОСТ Р 34.10-2001 CP"), std::string::npos) << out_;
    EXPECT_NE(out_.find("RSA 19 512..2048"), std::string::npos) << out_;
    EXPECT_NE(out_.find("a:\\keys"), std::string::npos) << out_;
    EXPECT_NE(out_.find("Key store on a:\\: present"), std::string::npos) << out_;
    EXPECT_NE(out_.find("-----BEGIN CERTIFICATE REQUEST-----"), std::string::npos) << out_;
    EXPECT_TRUE(std::filesystem::exists(drive + "/keys/00000001.key"));
}

}  // namespace
}  // namespace cadb::enrol::test
