// The base of the https tests: nginx and openssl are there, the test
// certificates are made, and nginx starts on https serving one random file.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "tests/support/require_server.h"
#include "tests/support/servers.h"
#include "tests/support/sha256.h"
#include "tests/support/tls_certs.h"

namespace vardane::test {

class HttpsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        VARDANE_REQUIRE_SERVER(NginxServer::kBinary);
        VARDANE_REQUIRE_SERVER(TestPki::kBinary);
        ASSERT_TRUE(Pki().Made()) << Pki().Diagnostics();
    }

    // Static, so that a default argument may name a certificate.
    static TestPki& Pki() { return SharedTestPki(); }

    // nginx on https with cert, serving name: size random bytes of seed,
    // whose digest is kept in digest.
    std::unique_ptr<NginxServer> ServeHttps(const CertPair& cert, const std::string& name,
                                            int64_t size, uint64_t seed = 1,
                                            NginxOptions options = {}) {
        options.tlsCert = cert.cert;
        options.tlsKey = cert.key;
        auto nginx = std::make_unique<NginxServer>(options);
        digest = MakeRandomFile(nginx->Root() + name, size, seed);
        EXPECT_TRUE(nginx->Start()) << nginx->Diagnostics();
        return nginx;
    }

    std::string digest;
};

}  // namespace vardane::test
