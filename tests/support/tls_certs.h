// Certificates for https tests, made by the openssl command in a temporary
// folder when the test runs: a CA, and server certificates for 127.0.0.1 and
// localhost signed by it (valid, expired, for another host), plus one signed
// by a second CA that nothing trusts.
#pragma once

#include <string>

#include "tests/support/temp_dir.h"

namespace vardane::test {

struct CertPair {
    std::string cert;  // PEM certificate file
    std::string key;   // PEM private key file
};

class TestPki {
  public:
    static constexpr const char* kBinary = "openssl";
    TestPki();
    // Makes every file; false when openssl failed (see Diagnostics).
    bool Make();
    bool Made() const { return made_; }
    std::string Diagnostics() const;

    std::string CaFile() const { return dir_.Path() + "ca.pem"; }
    CertPair Good() const { return Pair("good"); }
    CertPair Expired() const { return Pair("expired"); }
    CertPair WrongHost() const { return Pair("wronghost"); }
    CertPair Untrusted() const { return Pair("untrusted"); }

  private:
    CertPair Pair(const std::string& name) const;
    bool Run(const std::string& arguments);
    bool MakeCa(const std::string& name);
    bool MakeServer(const std::string& name, const std::string& ca, const std::string& names,
                    int days);

    TempDir dir_{"vardane-pki"};
    bool made_ = false;
};

// The certificates of this test process, made on first use and kept until it
// exits (making them takes openssl a moment); check Made().
TestPki& SharedTestPki();

}  // namespace vardane::test
