// Downloads over IPv6: nginx and vsftpd listening on [::1] only, and a host
// name whose first (IPv6) address refuses so that the IPv4 one must serve.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/event_socket.h"
#include "tests/engine/engine_harness.h"
#include "tests/support/require_server.h"
#include "tests/support/servers.h"
#include "tests/support/sha256.h"
#include "tests/support/tls_certs.h"

namespace vardane::test {
namespace {

class Ipv6Http : public ::testing::Test {
  protected:
    void SetUp() override { VARDANE_REQUIRE_SERVER(NginxServer::kBinary); }

    // Downloads url with 1 and then 4 connections and checks the bytes.
    void ExpectExactFile(const std::string& url, const std::string& digest) {
        for (int connections : {1, 4}) {
            std::string name = "f" + std::to_string(connections) + ".bin";
            std::string id = h.AddTask(url, connections, name);
            ASSERT_EQ(h.Run(slot, id), TaskState::Completed) << h.owner.Log();
            EXPECT_EQ(Sha256OfFile(h.DownloadDir + name), digest) << connections;
        }
    }

    EngineHarness h;
    TaskSlot slot{h.ctx};
};

TEST_F(Ipv6Http, BracketedLiteralDownloadsTheExactFile) {
    NginxOptions options;
    options.listenHost = "::1";
    NginxServer nginx(options);
    const std::string digest = MakeRandomFile(nginx.Root() + "file.bin", 3 * 1024 * 1024 + 7);
    ASSERT_TRUE(nginx.Start()) << nginx.Diagnostics();
    ASSERT_EQ(nginx.Url("x").rfind("http://[::1]:", 0), 0u);
    ExpectExactFile(nginx.Url("file.bin"), digest);
    // The Host header carries the brackets (nginx answers 400 without them).
    EXPECT_NE(nginx.AccessLog().find("\" 206 "), std::string::npos) << nginx.AccessLog();
    EXPECT_EQ(nginx.AccessLog().find("\" 400 "), std::string::npos) << nginx.AccessLog();
    // So does the log, where "::1:8080" would not say which colon is the port's.
    const std::string port = nginx.Url("").substr(std::string("http://[::1]:").size());
    EXPECT_TRUE(h.owner.LogHas(h.ctx.lang.GetLangText("Log_Connecting") +
                               " [::1]:" + port.substr(0, port.find('/'))))
        << h.owner.Log();
}

TEST_F(Ipv6Http, HttpsChecksTheCertificateAgainstTheIpv6Address) {
    VARDANE_REQUIRE_SERVER(TestPki::kBinary);
    TestPki& pki = SharedTestPki();
    ASSERT_TRUE(pki.Made()) << pki.Diagnostics();
    NginxOptions options;
    options.listenHost = "::1";
    options.tlsCert = pki.Good().cert;
    options.tlsKey = pki.Good().key;
    NginxServer nginx(options);
    const std::string digest = MakeRandomFile(nginx.Root() + "file.bin", 2 * 1024 * 1024 + 3);
    ASSERT_TRUE(nginx.Start()) << nginx.Diagnostics();
    h.Configure([&](AppSettings& s) { s.CAFile = pki.CaFile(); });
    ExpectExactFile(nginx.Url("file.bin"), digest);
}

TEST_F(Ipv6Http, HostWhoseIpv6AddressRefusesIsReachedOverIpv4) {
    NginxServer nginx;  // IPv4 only
    const std::string digest = MakeRandomFile(nginx.Root() + "file.bin", 1024 * 1024 + 1);
    ASSERT_TRUE(nginx.Start()) << nginx.Diagnostics();
    SetTestResolver([](const std::string& host) {
        return host == "dual.test" ? std::vector<std::string>{"::1", "127.0.0.1"}
                                   : std::vector<std::string>{};
    });
    ExpectExactFile("http://dual.test:" + std::to_string(nginx.Port()) + "/file.bin", digest);
    SetTestResolver(nullptr);
}

class Ipv6Ftp : public ::testing::TestWithParam<bool> {
  protected:
    void SetUp() override { VARDANE_REQUIRE_SERVER(FtpServer::kBinary); }

    FtpServer server{{}, true};
    EngineHarness h;
    TaskSlot slot{h.ctx};
};

// Passive mode must use EPSV and active mode EPRT: PASV and PORT cannot name
// an IPv6 port, and vsftpd refuses them on an IPv6 session.
TEST_P(Ipv6Ftp, DownloadsTheExactFileWithExtendedCommands) {
    const bool passive = GetParam();
    const std::string digest = MakeRandomFile(server.Root() + "file.bin", 2 * 1024 * 1024 + 9);
    ASSERT_TRUE(server.Start()) << server.Diagnostics();
    ProxyRecord direct;
    direct.PASV = passive;
    h.SetProxy(direct);
    for (int connections : {1, 4}) {
        std::string name = "f" + std::to_string(connections) + ".bin";
        std::string id = h.AddTask(server.Url("file.bin"), connections, name);
        ASSERT_EQ(h.Run(slot, id), TaskState::Completed) << h.owner.Log() << server.Log();
        EXPECT_EQ(Sha256OfFile(h.DownloadDir + name), digest) << connections;
    }
    const std::string log = server.Log();
    EXPECT_NE(log.find(passive ? "\"EPSV\"" : "\"EPRT |2|::1|"), std::string::npos) << log;
    EXPECT_EQ(log.find(passive ? "\"PASV\"" : "\"PORT "), std::string::npos) << log;
}

INSTANTIATE_TEST_SUITE_P(Modes, Ipv6Ftp, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "Epsv" : "Eprt"; });

}  // namespace
}  // namespace vardane::test
