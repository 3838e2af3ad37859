// Handshakes with real proxies (tinyproxy, microsocks, dante) in front of a
// real nginx: the proxied request must return the file's exact bytes.
#include <gtest/gtest.h>

#include "net/proxy.h"
#include "net/proxy_text.h"
#include "tests/net/net_test_util.h"
#include "tests/support/require_server.h"
#include "tests/support/servers.h"
#include "tests/support/sha256.h"

namespace vardane::test {
namespace {

constexpr int64_t kFileSize = 300000;

class ProxyIntegrationTest : public ::testing::Test {
  protected:
    void SetUp() override {
        VARDANE_REQUIRE_SERVER(NginxServer::kBinary);
        sha_ = MakeRandomFile(nginx_.Root() + "file.bin", kFileSize, 42);
        ASSERT_TRUE(nginx_.Start()) << nginx_.Diagnostics();
    }
    void TearDown() override { CloseSockets(set_, kConnectionSlots); }

    std::string Target() const { return "127.0.0.1:" + std::to_string(nginx_.Port()); }

    // Handshake through the proxy to nginx on a fresh socket; the result step.
    HandshakeResult Connect(const ProxyRecord& proxy) {
        CloseSockets(set_, 1);
        CreateSockets(set_, 1);
        return ConnectThrough(set_, owner_, proxy, proxy.Server, proxy.Port, "127.0.0.1",
                              nginx_.Port());
    }

    // Sends request over the ready connection; expects a 200 whose body is the
    // test file.
    void ExpectFile(const std::string& request, const HandshakeResult& handshake) {
        std::string reply = ExchangeOnSlot(set_, request, handshake.leftover);
        ASSERT_EQ(ReplyStatus(reply), "200") << reply.substr(0, 300);
        size_t body = reply.find("\r\n\r\n");
        ASSERT_NE(body, std::string::npos);
        EXPECT_EQ(static_cast<int64_t>(reply.size() - body - 4), kFileSize);
        EXPECT_EQ(Sha256OfBytes(std::string_view(reply).substr(body + 4)), sha_);
    }

    std::string TunnelRequest() const {
        return "GET /file.bin HTTP/1.0\r\nHost: " + Target() + "\r\n\r\n";
    }

    NginxServer nginx_;
    std::string sha_;
    ConnectionSet set_;
    RecordingOwner owner_;
};

TEST_F(ProxyIntegrationTest, TinyproxyConnectWithAndWithoutBasicAuth) {
    VARDANE_REQUIRE_SERVER(TinyProxy::kBinary);
    TinyProxy open;
    ASSERT_TRUE(open.Start()) << open.Diagnostics();
    HandshakeResult result = Connect(MakeProxy(proxyHttpConnect, "127.0.0.1", open.Port()));
    ASSERT_EQ(result.step, proxyReady) << open.Diagnostics();
    ExpectFile(TunnelRequest(), result);

    TinyProxy guarded("alice", "wonderland5");
    ASSERT_TRUE(guarded.Start()) << guarded.Diagnostics();
    result = Connect(MakeProxy(proxyHttpConnect, "127.0.0.1", guarded.Port(), "alice", "nope"));
    EXPECT_EQ(result.step, proxyFailed);
    result =
        Connect(MakeProxy(proxyHttpConnect, "127.0.0.1", guarded.Port(), "alice", "wonderland5"));
    ASSERT_EQ(result.step, proxyReady) << guarded.Diagnostics();
    ExpectFile(TunnelRequest(), result);
}

TEST_F(ProxyIntegrationTest, TinyproxyGetWithBasicAuth) {
    VARDANE_REQUIRE_SERVER(TinyProxy::kBinary);
    TinyProxy proxy("bob", "secret");
    ASSERT_TRUE(proxy.Start()) << proxy.Diagnostics();
    ProxyRecord record = MakeProxy(proxyHttpGet, "127.0.0.1", proxy.Port(), "bob", "secret");
    HandshakeResult result = Connect(record);
    ASSERT_EQ(result.step, proxyReady);
    ExpectFile("GET http://" + Target() + "/file.bin HTTP/1.0\r\nHost: " + Target() + "\r\n" +
                   ProxyAuthorizationLine(record) + "\r\n",
               result);
}

TEST_F(ProxyIntegrationTest, MicrosocksSocks5WithAndWithoutPassword) {
    VARDANE_REQUIRE_SERVER(MicroSocks::kBinary);
    MicroSocks open;
    ASSERT_TRUE(open.Start()) << open.Diagnostics();
    HandshakeResult result = Connect(MakeProxy(proxySocks5, "127.0.0.1", open.Port()));
    ASSERT_EQ(result.step, proxyReady) << open.Diagnostics();
    ExpectFile(TunnelRequest(), result);

    MicroSocks guarded("carol", "pa55");
    ASSERT_TRUE(guarded.Start()) << guarded.Diagnostics();
    result = Connect(MakeProxy(proxySocks5, "127.0.0.1", guarded.Port(), "carol", "wrong"));
    EXPECT_EQ(result.step == proxyFailed || result.step == -1, true) << result.step;
    result = Connect(MakeProxy(proxySocks5, "127.0.0.1", guarded.Port(), "carol", "pa55"));
    ASSERT_EQ(result.step, proxyReady) << guarded.Diagnostics();
    ExpectFile(TunnelRequest(), result);
}

TEST_F(ProxyIntegrationTest, DanteSocks4AndSocks5) {
    VARDANE_REQUIRE_SERVER(DanteServer::kBinary);
    DanteServer dante;
    ASSERT_TRUE(dante.Start()) << dante.Diagnostics();
    HandshakeResult result = Connect(MakeProxy(proxySocks4, "127.0.0.1", dante.Port()));
    ASSERT_EQ(result.step, proxyReady) << dante.Diagnostics();
    ExpectFile(TunnelRequest(), result);
    result = Connect(MakeProxy(proxySocks5, "127.0.0.1", dante.Port()));
    ASSERT_EQ(result.step, proxyReady) << dante.Diagnostics();
    ExpectFile(TunnelRequest(), result);
}

}  // namespace
}  // namespace vardane::test
