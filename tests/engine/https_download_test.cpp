// Downloads over https from nginx with certificates made for the test: the
// bytes on disk, resume, proxies, and the certificate checks that must fail
// the task at once.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "engine/worker.h"
#include "net/event_socket.h"
#include "platform/file.h"
#include "platform/text.h"
#include "tests/engine/engine_harness.h"
#include "tests/engine/range_server.h"
#include "tests/support/https_test.h"
#include "tests/support/make_proxy.h"
#include "tests/support/scripted_server.h"

namespace vardane::test {
namespace {

class Https : public HttpsTest {
  protected:
    // nginx on https with the given certificate, serving file.bin.
    std::unique_ptr<NginxServer> Serve(const CertPair& cert, int64_t size, int64_t rate = 0) {
        NginxOptions options;
        options.limitRate = rate;
        return ServeHttps(cert, "file.bin", size, 11, options);
    }
    // The harness trusts the test CA through the CAFile setting.
    void TrustTestCa() {
        h.Configure([](AppSettings& s) { s.CAFile = Pki().CaFile(); });
    }
    // A certificate that does not verify ends the task after one handshake.
    void ExpectRejected(const CertPair& cert, const std::string& reason,
                        const std::string& caFile = Pki().CaFile(),
                        const std::string& host = "127.0.0.1") {
        auto nginx = Serve(cert, 1000);
        h.Configure([&](AppSettings& s) { s.CAFile = caFile; });
        std::string id = h.AddTask(HostUrl(host, nginx->Port()), 2);
        ASSERT_EQ(h.Run(slot, id), TaskState::Failed) << h.owner.Log();
        EXPECT_TRUE(h.owner.LogHas(reason)) << h.owner.Log();
        EXPECT_TRUE(h.owner.LogHas(h.ctx.lang.GetLangText("Log_TlsCertificateFailed")));
        EXPECT_FALSE(h.owner.LogHas(h.ctx.lang.GetLangText("Log_RetryWait1"))) << h.owner.Log();
        EXPECT_FALSE(FileExists(h.DownloadDir + "file.bin"));
    }

    static std::string HostUrl(const std::string& host, int port) {
        return "https://" + host + ":" + std::to_string(port) + "/file.bin";
    }

    EngineHarness h;
    TaskSlot slot{h.ctx};
};

TEST_F(Https, OneAndFourConnectionsWriteTheExactFile) {
    for (int connections : {1, 4}) {
        const int64_t size = 3 * 1024 * 1024 + 4097;
        auto nginx = Serve(Pki().Good(), size);
        TrustTestCa();
        std::string name = "f" + std::to_string(connections) + ".bin";
        std::string id = h.AddTask(nginx->Url("file.bin"), connections, name);
        ASSERT_EQ(h.Run(slot, id), TaskState::Completed) << h.owner.Log();
        EXPECT_EQ(Sha256OfFile(h.DownloadDir + name), digest) << connections;
        EXPECT_EQ(h.Progress(id).FilePos, std::to_string(size));
        EXPECT_TRUE(h.owner.LogHas(h.ctx.lang.GetLangText("Log_TlsEstablished") + " TLSv1."));
        EXPECT_EQ(nginx->AccessLog().find("\" 4"), std::string::npos) << nginx->AccessLog();
    }
}

TEST_F(Https, StoppedTaskResumesWithTheRest) {
    const int64_t size = 4 * 1024 * 1024;
    auto nginx = Serve(Pki().Good(), size, 1024 * 1024);
    TrustTestCa();
    std::string id = h.AddTask(nginx->Url("slow/file.bin"), 2);
    ASSERT_TRUE(h.Start(slot, id));
    int64_t saved = 0;
    for (int i = 0; i < 3000 && saved < size / 8; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        saved = TextToInt(h.Progress(id).FilePos);
    }
    ASSERT_TRUE(h.StopAndJoin(slot));
    ASSERT_EQ(h.owner.Last().State, TaskState::Stopped) << h.owner.Log();
    ASSERT_GT(TextToInt(h.Progress(id).FilePos), 0);
    ASSERT_LT(TextToInt(h.Progress(id).FilePos), size);

    ASSERT_EQ(h.Run(slot, id), TaskState::Completed) << h.owner.Log();
    EXPECT_EQ(Sha256OfFile(h.DownloadDir + "file.bin"), digest);
}

TEST_F(Https, TunnelsThroughHttpConnectGetAndSocks5Proxies) {
    VARDANE_REQUIRE_SERVER(TinyProxy::kBinary);
    VARDANE_REQUIRE_SERVER(MicroSocks::kBinary);
    TinyProxy tiny;
    ASSERT_TRUE(tiny.Start()) << tiny.Diagnostics();
    MicroSocks socks;
    ASSERT_TRUE(socks.Start()) << socks.Diagnostics();
    auto nginx = Serve(Pki().Good(), 700 * 1024 + 3);
    TrustTestCa();
    // An "HTTP Get" proxy cannot carry https: it is asked for a CONNECT.
    for (auto [type, port] : {std::pair{1, tiny.Port()}, {2, tiny.Port()}, {4, socks.Port()}}) {
        h.SetProxy(MakeProxy(type, "127.0.0.1", port));
        std::string name = "p" + std::to_string(type) + ".bin";
        std::string id = h.AddTask(nginx->Url("file.bin"), 2, name);
        ASSERT_EQ(h.Run(slot, id), TaskState::Completed) << h.owner.Log();
        EXPECT_EQ(Sha256OfFile(h.DownloadDir + name), digest) << type;
        EXPECT_FALSE(h.owner.LogHas("GET https://")) << h.owner.Log();
    }
    EXPECT_NE(ReadFile(tiny.WorkDir() + "tinyproxy.log").find("CONNECT"), std::string::npos);
}

// Redirects cross between the schemes: the worker speaks TLS exactly when the
// address it follows says https.
TEST_F(Https, RedirectsLeadFromHttpToHttpsAndOnToHttpAndFtp) {
    VARDANE_REQUIRE_SERVER(FtpServer::kBinary);
    const std::string plainBody = RandomBytes(100 * 1024 + 7, 5);
    std::atomic<int> httpsPort{0};
    ScriptedServer plain([&](ScriptedConnection& c) {
        auto request = c.ReadUntil("\r\n\r\n");
        if (request && request->rfind("GET /go.bin", 0) == 0) {
            c.Write("HTTP/1.1 302 Found\r\nLocation: https://127.0.0.1:" +
                    std::to_string(httpsPort) + "/file.bin\r\nContent-Length: 0\r\n\r\n");
        } else if (request) {
            c.Write("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(plainBody.size()) +
                    "\r\n\r\n" + plainBody);
        }
        c.WaitForClose();
    });
    FtpServer ftp;
    const std::string ftpDigest = MakeRandomFile(ftp.Root() + "file.bin", 64 * 1024 + 1, 3);
    ASSERT_TRUE(ftp.Start()) << ftp.Diagnostics();
    NginxOptions options;
    options.extraConfig =
        "    location = /back.bin { return 302 http://127.0.0.1:" + std::to_string(plain.Port()) +
        "/file.bin; }\n" + "    location = /ftp.bin { return 302 " + ftp.Url("file.bin") + "; }\n";
    auto nginx = ServeHttps(Pki().Good(), "file.bin", 300 * 1024, 9, options);
    httpsPort = nginx->Port();
    TrustTestCa();

    std::string id = h.AddTask("http://127.0.0.1:" + std::to_string(plain.Port()) + "/go.bin", 1);
    ASSERT_EQ(h.Run(slot, id), TaskState::Completed) << h.owner.Log();
    EXPECT_EQ(Sha256OfFile(h.DownloadDir + "go.bin"), digest);
    id = h.AddTask(nginx->Url("back.bin"), 1);
    ASSERT_EQ(h.Run(slot, id), TaskState::Completed) << h.owner.Log();
    EXPECT_EQ(ReadFile(h.DownloadDir + "back.bin"), plainBody);
    id = h.AddTask(nginx->Url("ftp.bin"), 1);
    ASSERT_EQ(h.Run(slot, id), TaskState::Completed) << h.owner.Log();
    EXPECT_EQ(Sha256OfFile(h.DownloadDir + "ftp.bin"), ftpDigest);
}

TEST_F(Https, ExpiredCertificateFailsTheTask) {
    ExpectRejected(Pki().Expired(), "expired certificate");
}

TEST_F(Https, CertificateForAnotherHostFailsTheTask) {
    ExpectRejected(Pki().WrongHost(), "wrong host name");
}

// An address by name is checked against the certificate's DNS names:
// localhost with a certificate for another name fails, one for localhost
// completes.
TEST_F(Https, HostNameIsCheckedAgainstTheCertificatesNames) {
    struct ResolverGuard {
        ResolverGuard() {
            SetTestResolver([](const std::string& host) {
                return host == "localhost" ? std::vector<std::string>{"127.0.0.1"}
                                           : std::vector<std::string>{};
            });
        }
        ~ResolverGuard() { SetTestResolver(nullptr); }
    } guard;
    ExpectRejected(Pki().WrongHost(), "wrong host name", Pki().CaFile(), "localhost");
    auto nginx = Serve(Pki().Good(), 5000);
    std::string id = h.AddTask(HostUrl("localhost", nginx->Port()), 1, "byname.bin");
    ASSERT_EQ(h.Run(slot, id), TaskState::Completed) << h.owner.Log();
    EXPECT_EQ(Sha256OfFile(h.DownloadDir + "byname.bin"), digest);
}

// A reply without a length ends where the TLS session says: the close alert
// completes it (the server then waits for the client's), a TCP close without
// it is a cut and never a completed file. One or four connections, directly
// or through a CONNECT proxy.
TEST_F(Https, UnknownLengthEndsWithTheCloseAlertNotTheTcpClose) {
    VARDANE_REQUIRE_SERVER(TinyProxy::kBinary);
    TinyProxy tiny;
    ASSERT_TRUE(tiny.Start()) << tiny.Diagnostics();
    const std::string body = RandomBytes(400 * 1000, 21);
    h.Configure([](AppSettings& s) {
        s.CAFile = Pki().CaFile();
        s.ConnectionTimeOut = 5;
        s.RetryWaitSec = 0;
        s.RetryLimit = true;
        s.RetryCounts = 2;
    });
    int n = 0;
    for (bool cut : {false, true}) {
        for (int connections : {1, 4}) {
            for (bool proxied : {false, true}) {
                RangeServerOptions o;
                o.body = body;
                o.ignoreRange = true;
                o.contentLength = false;
                o.tlsCert = Pki().Good().cert;
                o.tlsKey = Pki().Good().key;
                if (cut) {
                    o.cutConnection = 0;
                    o.cutAfter = 200 * 1000;
                    o.reply = [](int index) {
                        return index == 0 ? std::string()
                                          : std::string("HTTP/1.1 503 Busy\r\n\r\n");
                    };
                }
                RangeServer server(o);
                h.SetProxy(proxied ? MakeProxy(1, "127.0.0.1", tiny.Port()) : ProxyRecord{});
                std::string name = "u" + std::to_string(++n) + ".bin";
                std::string id = h.AddTask(server.Url(name), connections, name);
                std::string what =
                    name + (cut ? " cut" : " whole") + (proxied ? " proxied\n" : "\n");
                if (cut) {
                    EXPECT_NE(h.Run(slot, id), TaskState::Completed) << what << h.owner.Log();
                    EXPECT_FALSE(FileExists(h.DownloadDir + name)) << what;
                    EXPECT_NE(h.Progress(id).State, "1") << what;
                } else {
                    ASSERT_EQ(h.Run(slot, id), TaskState::Completed) << what << h.owner.Log();
                    EXPECT_TRUE(ReadFile(h.DownloadDir + name) == body) << what;
                }
            }
        }
    }
}

TEST_F(Https, CertificateFromAnUnknownCaFailsTheTask) {
    ExpectRejected(Pki().Untrusted(), "untrusted CA");
}

TEST_F(Https, UnreadableCaFileSettingFailsTheTask) {
    ExpectRejected(Pki().Good(), "CA file cannot be read", h.dir.Path() + "missing.pem");
}

TEST_F(Https, InsecureTaskAcceptsAnyCertificateAndSaysSo) {
    auto nginx = Serve(Pki().WrongHost(), 200 * 1024);
    std::string id = h.AddTask(nginx->Url("file.bin"), 1);
    ASSERT_NE(h.ctx.ChooseTls(id, {true, ""}), 0u);
    ASSERT_EQ(h.Run(slot, id), TaskState::Completed) << h.owner.Log();
    EXPECT_EQ(Sha256OfFile(h.DownloadDir + "file.bin"), digest);
    EXPECT_TRUE(h.owner.LogHas(h.ctx.lang.GetLangText("Log_TlsInsecure")));
}

// A server that takes the connection and never answers the ClientHello: the
// connection time-out covers the handshake, so the worker gives up on it
// instead of waiting for ever.
TEST(HttpsStall, SilentHandshakeEndsInTheConnectionTimeOut) {
    ScriptedServer silent([](ScriptedConnection& c) { c.WaitForClose(); });
    EngineHarness h;
    TaskSlot slot(h.ctx);
    h.Configure([](AppSettings& s) {
        s.ConnectionTimeOut = 1;
        s.RetryLimit = true;
        s.RetryCounts = 2;
    });
    std::string id = h.AddTask("https://127.0.0.1:" + std::to_string(silent.Port()) + "/x.bin", 1);
    ASSERT_EQ(h.Run(slot, id), TaskState::Failed) << h.owner.Log();
    EXPECT_TRUE(h.owner.LogHas(h.ctx.lang.GetLangText("Log_TimeOut"))) << h.owner.Log();
    EXPECT_TRUE(h.owner.LogHas(h.ctx.lang.GetLangText("Log_TooManyRetry"))) << h.owner.Log();
    EXPECT_EQ(silent.Connections(), 2);
}

}  // namespace
}  // namespace vardane::test
