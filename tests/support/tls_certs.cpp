#include "tests/support/tls_certs.h"

#include <cstdlib>

#include "tests/support/require_server.h"
#include "tests/support/temp_dir.h"

namespace vardane::test {

namespace {

constexpr const char* kNewKey = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";

}  // namespace

TestPki::TestPki() = default;

bool TestPki::Run(const std::string& arguments) {
    std::string command = "cd '" + dir_.Path() + "' && timeout 60 " + FindServer(kBinary) + " " +
                          arguments + " >>openssl.log 2>&1";
    return std::system(command.c_str()) == 0;
}

bool TestPki::MakeCa(const std::string& name) {
    return Run("req -x509" + std::string(kNewKey) + " -keyout " + name + ".key -out " + name +
               ".pem -days 2 -subj '/CN=Vardane test " + name + "'");
}

// A server certificate for the subject names (an openssl subjectAltName
// value); a negative day count makes one that has already expired.
bool TestPki::MakeServer(const std::string& name, const std::string& ca, const std::string& names,
                         int days) {
    WriteFile(dir_.Path() + name + ".ext",
              "subjectAltName=" + names + "\nbasicConstraints=CA:FALSE\n");
    return Run("req -new" + std::string(kNewKey) + " -keyout " + name + ".key -out " + name +
               ".csr -subj /CN=server") &&
           Run("x509 -req -in " + name + ".csr -CA " + ca + ".pem -CAkey " + ca +
               ".key -CAcreateserial -out " + name + ".pem -days " + std::to_string(days) +
               " -extfile " + name + ".ext");
}

bool TestPki::Make() {
    const std::string local = "IP:127.0.0.1,IP:::1,DNS:localhost";
    made_ = MakeCa("ca") && MakeCa("otherca") && MakeServer("good", "ca", local, 2) &&
            MakeServer("expired", "ca", local, -1) &&
            MakeServer("wronghost", "ca", "DNS:wrong.example", 2) &&
            MakeServer("untrusted", "otherca", local, 2);
    return made_;
}

TestPki& SharedTestPki() {
    static TestPki pki;
    static bool tried = false;
    if (!tried) {
        tried = true;
        pki.Make();
    }
    return pki;
}

std::string TestPki::Diagnostics() const {
    return ReadFile(dir_.Path() + "openssl.log");
}

CertPair TestPki::Pair(const std::string& name) const {
    return CertPair{dir_.Path() + name + ".pem", dir_.Path() + name + ".key"};
}

}  // namespace vardane::test
