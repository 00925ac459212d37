// Certificates and CRLs made by an independent peer: Debian's GOST engine,
// run only through the openssl command in a child process.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace cadb::test {

// A scratch directory in which the peer makes a CA, a leaf it issues and
// revokes (serial 5), and the CA's CRL. Empty when the peer is missing.
class PeerPki {
  public:
    PeerPki() {
        char tmpl[] = "/tmp/cadb-peer-XXXXXX";
        if (mkdtemp(tmpl) == nullptr) return;
        dir_ = tmpl;
        const std::string script =
            "cd " + dir_ +
            " && openssl engine gost"
            " && openssl genpkey -engine gost -algorithm gost2001 -pkeyopt paramset:A -out ca.key"
            " && openssl req -engine gost -new -x509 -key ca.key -subj '/CN=Peer CA' -days 30"
            "    -addext 'basicConstraints=critical,CA:TRUE' -out ca.pem"
            " && openssl genpkey -engine gost -algorithm gost2001 -pkeyopt paramset:A -out leaf.key"
            " && openssl req -engine gost -new -key leaf.key -subj '/CN=Peer Leaf' -out leaf.csr"
            " && openssl x509 -engine gost -req -in leaf.csr -CA ca.pem -CAkey ca.key"
            "    -set_serial 5 -days 10 -out leaf.pem"
            " && printf '[ca]\\ndefault_ca=d\\n[d]\\ndatabase=index.txt\\ncrlnumber=crlnumber\\n"
            "default_md=md_gost94\\ndefault_crl_days=7\\n' > ca.cnf"
            " && touch index.txt && echo 01 > crlnumber"
            " && openssl ca -engine gost -config ca.cnf -keyfile ca.key -cert ca.pem -gencrl"
            "    -out clean.crl"
            " && openssl ca -engine gost -config ca.cnf -keyfile ca.key -cert ca.pem"
            "    -revoke leaf.pem"
            " && openssl ca -engine gost -config ca.cnf -keyfile ca.key -cert ca.pem -gencrl"
            "    -out ca.crl";
        ok_ = std::system(("(" + script + ") >/dev/null 2>&1").c_str()) == 0;
    }
    ~PeerPki() {
        std::error_code ec;
        if (!dir_.empty()) std::filesystem::remove_all(dir_, ec);
    }
    bool ok() const { return ok_; }
    std::vector<unsigned char> file(const std::string& name) const {
        std::ifstream in(dir_ + "/" + name, std::ios::binary);
        return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), {});
    }
    // Runs a command in the directory; true on exit status 0.
    bool run(const std::string& command) const {
        return std::system(("cd " + dir_ + " && (" + command + ") >/dev/null 2>&1").c_str()) == 0;
    }
    const std::string& dir() const { return dir_; }

  private:
    std::string dir_;
    bool ok_ = false;
};

}  // namespace cadb::test
