// Pages enrolling at once on one drive: script hosts started together, each
// making requests on an empty drive or on an existing store. Whatever the
// interleaving, every request returned to a page must have its private key
// on the medium, loadable with the store that stays there.
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <set>
#include <vector>

#include "tests/enrol/script_fixture.h"

namespace cadb::enrol::test {
namespace {

namespace fs = std::filesystem;

constexpr const char* kPrelude = R"(
var q = new ActiveXObject('Quillon.Quillon');
q.ProviderName = 'ГОСТ Р 34.10-2001 CP';
q.ContainerName = 'b:\\store';
q.DefaultPKeyPath = 'b:\\keys';
)";

// Makes the requests it is asked for, each PEM on its own lines, a failure
// as one line.
const std::string kEnrol = std::string(kPrelude) + R"(
var count = parseInt(WScript.Arguments(0), 10);
for (var i = 0; i < count; i++) {
  try { WScript.Echo(q.createPKCS10('CN=page ' + i + ';', '')); }
  catch (e) { WScript.Echo('failed: ' + e.description); }
}
)";

// Loads every key file named on the command line with the store, as a page
// asking a request for an existing key does, and shows that request.
const std::string kLoadEach = std::string(kPrelude) + R"(
q.UseExistingKeySet = 1;
for (var i = 0; i < WScript.Arguments.length; i++) {
  q.DefaultPKeyFileName = WScript.Arguments(i);
  try { WScript.Echo(q.createPKCS10('CN=check;', '')); }
  catch (e) { WScript.Echo('not loaded: ' + WScript.Arguments(i) + ': ' + e.description); }
}
)";

struct BioFree {
    void operator()(BIO* b) const { BIO_free(b); }
};
struct ReqFree {
    void operator()(X509_REQ* r) const { X509_REQ_free(r); }
};

// The public keys (SubjectPublicKeyInfo DER) of the requests in text.
std::vector<std::string> request_keys(const std::string& text) {
    static constexpr std::string_view kBegin = "-----BEGIN CERTIFICATE REQUEST-----";
    static constexpr std::string_view kEnd = "-----END CERTIFICATE REQUEST-----";
    std::vector<std::string> keys;
    for (std::size_t at = text.find(kBegin); at != std::string::npos;
         at = text.find(kBegin, at + 1)) {
        const std::size_t end = text.find(kEnd, at);
        if (end == std::string::npos) break;
        const std::string pem = text.substr(at, end + kEnd.size() - at) + "\n";
        std::unique_ptr<BIO, BioFree> bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
        std::unique_ptr<X509_REQ, ReqFree> req(
            PEM_read_bio_X509_REQ(bio.get(), nullptr, nullptr, nullptr));
        if (!req) {
            keys.push_back("<unreadable request>");
            continue;
        }
        unsigned char* der = nullptr;
        const int n = i2d_X509_PUBKEY(X509_REQ_get_X509_PUBKEY(req.get()), &der);
        keys.emplace_back(n > 0 ? std::string(reinterpret_cast<char*>(der), n) : "<no key>");
        OPENSSL_free(der);
    }
    return keys;
}

class ConcurrentRoad : public ScriptDrive {
  protected:
    // Starts one script host per page on the script at once, each with the
    // arguments, and waits for all; the output of each.
    std::vector<std::string> run_together(const std::string& source, int pages,
                                          const std::string& args) {
        const std::string script = dir_ + "/pages.js";
        std::ofstream(script) << source;
        std::vector<pid_t> children;
        for (int i = 0; i < pages; ++i) {
            const std::string out = dir_ + "/page" + std::to_string(i);
            const std::string cmd = std::string("exec '") + SCRIPT_HOST + "' '" + script + "' " +
                                    args + " >'" + out + ".out' 2>'" + out + ".err'";
            const pid_t child = ::fork();
            if (child == 0) {
                ::execl("/bin/sh", "sh", "-c", cmd.c_str(), static_cast<char*>(nullptr));
                ::_exit(127);
            }
            EXPECT_GT(child, 0);
            children.push_back(child);
        }
        std::vector<std::string> outputs;
        for (int i = 0; i < pages; ++i) {
            int status = 0;
            EXPECT_EQ(::waitpid(children[static_cast<std::size_t>(i)], &status, 0),
                      children[static_cast<std::size_t>(i)]);
            const std::string out = dir_ + "/page" + std::to_string(i);
            std::ostringstream text, err;
            text << std::ifstream(out + ".out").rdbuf();
            err << std::ifstream(out + ".err").rdbuf();
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << err.str();
            outputs.push_back(text.str());
        }
        return outputs;
    }

    // The key files on the drive.
    std::vector<std::string> key_files() const {
        std::vector<std::string> names;
        if (fs::exists(drive_ + "/keys"))
            for (const auto& e : fs::directory_iterator(drive_ + "/keys"))
                names.push_back(e.path().filename());
        return names;
    }

    // The keys of every page's requests; each page made all it was asked.
    static std::vector<std::string> returned_keys(const std::vector<std::string>& outputs,
                                                  int per_page) {
        std::vector<std::string> returned;
        for (const std::string& out : outputs) {
            EXPECT_EQ(out.find("failed"), std::string::npos) << out;
            const std::vector<std::string> keys = request_keys(out);
            EXPECT_EQ(keys.size(), static_cast<std::size_t>(per_page)) << out;
            returned.insert(returned.end(), keys.begin(), keys.end());
        }
        return returned;
    }

    // Each returned key is among the keys the store loads from the key
    // files, in a file of its own besides the default one.
    void expect_every_key_kept(const std::vector<std::string>& returned) {
        std::string args;
        for (const std::string& name : key_files()) args += " '" + name + "'";
        ASSERT_EQ(run(kLoadEach, args), 0) << err_;
        EXPECT_EQ(out_.find("not loaded"), std::string::npos) << out_;
        const std::vector<std::string> loaded = request_keys(out_);
        const std::set<std::string> loadable(loaded.begin(), loaded.end());
        int lost = 0;
        for (const std::string& key : returned) lost += loadable.count(key) == 0 ? 1 : 0;
        EXPECT_EQ(lost, 0) << "of " << returned.size() << " requests returned";
        EXPECT_EQ(std::set<std::string>(returned.begin(), returned.end()).size(), returned.size());
        EXPECT_GE(key_files().size(), returned.size() + 1);
    }
};

constexpr int kPages = 4;
constexpr int kRequestsPerPage = 6;

TEST_F(ConcurrentRoad, PagesOnAnEmptyDriveShareOneStore) {
    const std::vector<std::string> outputs =
        run_together(kEnrol, kPages, std::to_string(kRequestsPerPage));
    expect_every_key_kept(returned_keys(outputs, kRequestsPerPage));
}

TEST_F(ConcurrentRoad, PagesOnAnExistingStoreNeverShareAKeyFile) {
    ASSERT_EQ(run(kEnrol, "1"), 0) << err_;
    std::vector<std::string> returned = returned_keys({out_}, 1);
    const std::vector<std::string> outputs =
        run_together(kEnrol, kPages, std::to_string(kRequestsPerPage));
    const std::vector<std::string> more = returned_keys(outputs, kRequestsPerPage);
    returned.insert(returned.end(), more.begin(), more.end());
    expect_every_key_kept(returned);
}

}  // namespace
}  // namespace cadb::enrol::test
