// FTP against the servers users meet: pure-ftpd with a login in both modes,
// and vsftpd, pyftpdlib and pure-ftpd through the proxy types that carry FTP.
// vsftpd's own cases are in ftp_worker_test.cpp.
#include <gtest/gtest.h>
#include <unistd.h>

#include <memory>
#include <type_traits>

#include "net/proxy.h"
#include "tests/engine/engine_harness.h"
#include "tests/support/require_server.h"
#include "tests/support/servers.h"
#include "tests/support/sha256.h"

namespace vardane::test {
namespace {

// pure-ftpd switches to its virtual user's uid: without root it cannot run.
#define REQUIRE_PURE_FTPD()                                                \
    do {                                                                   \
        VARDANE_REQUIRE_SERVER(PureFtpServer::kBinary);                    \
        if (::geteuid() != 0) {                                            \
            GTEST_SKIP() << "pure-ftpd runs its sessions as nobody: root"; \
        }                                                                  \
    } while (0)

struct PureCase {
    bool passive;
    int threads;
};

class PureFtpd : public ::testing::TestWithParam<PureCase> {
  protected:
    void SetUp() override { REQUIRE_PURE_FTPD(); }

    PureFtpServer server;
    EngineHarness h;
    TaskSlot slot{h.ctx};
};

TEST_P(PureFtpd, UserDownloadsTheExactFile) {
    const std::string digest = MakeRandomFile(server.Root() + "file.bin", 2 * 1024 * 1024 + 555);
    ASSERT_TRUE(server.Start()) << server.Diagnostics();
    ProxyRecord direct;
    direct.PASV = GetParam().passive;
    h.SetProxy(direct);
    std::string id = h.AddTask(server.Url("file.bin"), GetParam().threads);
    ASSERT_EQ(h.Run(slot, id), TaskState::Completed) << h.owner.Log();
    EXPECT_EQ(Sha256OfFile(h.DownloadDir + "file.bin"), digest);
    EXPECT_FALSE(h.owner.LogHas(PureFtpServer::kPassword));
}

INSTANTIATE_TEST_SUITE_P(Modes, PureFtpd,
                         ::testing::Values(PureCase{true, 1}, PureCase{true, 4}, PureCase{false, 1},
                                           PureCase{false, 4}),
                         [](const auto& info) {
                             return std::string(info.param.passive ? "Passive" : "Active") +
                                    std::to_string(info.param.threads);
                         });

// Servers and proxies ---------------------------------------------------------

enum class Server { Vsftpd, PyFtpd, PureFtpd };
enum class Proxy { HttpConnect, Socks4, Socks5 };

struct ProxyCase {
    Server server;
    Proxy proxy;
};

// A server serving file.bin, started; its address with a login.
class RunningFtp {
  public:
    virtual ~RunningFtp() = default;
    virtual std::string Root() const = 0;
    virtual bool Start() = 0;
    virtual std::string Diagnostics() const = 0;
    virtual std::string Url() const = 0;
};

template <typename FtpServerType>
class Running : public RunningFtp {
  public:
    std::string Root() const override { return server_.Root(); }
    bool Start() override { return server_.Start(); }
    std::string Diagnostics() const override { return server_.Diagnostics(); }
    std::string Url() const override {
        if constexpr (std::is_same_v<FtpServerType, PyFtpServer>) {
            return server_.Url(
                "file.bin", std::string(PyFtpServer::kUser) + ":" + PyFtpServer::kPassword + "@");
        } else {
            return server_.Url("file.bin");
        }
    }

  private:
    FtpServerType server_;
};

class FtpThroughProxy : public ::testing::TestWithParam<ProxyCase> {
  protected:
    void SetUp() override {
        switch (GetParam().server) {
            case Server::Vsftpd:
                VARDANE_REQUIRE_SERVER(FtpServer::kBinary);
                server_ = std::make_unique<Running<FtpServer>>();
                break;
            case Server::PyFtpd:
                VARDANE_REQUIRE_SERVER(PyFtpServer::kBinary);
                server_ = std::make_unique<Running<PyFtpServer>>();
                break;
            case Server::PureFtpd:
                REQUIRE_PURE_FTPD();
                server_ = std::make_unique<Running<PureFtpServer>>();
                break;
        }
    }

    // Starts the proxy of the case; fills the record.
    bool StartProxy(ProxyRecord& record) {
        record.Server = "127.0.0.1";
        switch (GetParam().proxy) {
            case Proxy::HttpConnect:
                record.Type = proxyHttpConnect;
                tiny_ = std::make_unique<TinyProxy>();
                return Started(*tiny_, record);
            case Proxy::Socks4:
                record.Type = proxySocks4;
                dante_ = std::make_unique<DanteServer>();
                return Started(*dante_, record);
            case Proxy::Socks5:
                record.Type = proxySocks5;
                record.Authenticate = true;
                record.User = "proxyuser";
                record.Password = "proxypass";
                socks_ = std::make_unique<MicroSocks>("proxyuser", "proxypass");
                return Started(*socks_, record);
        }
        return false;
    }

    std::unique_ptr<RunningFtp> server_;
    std::unique_ptr<TinyProxy> tiny_;
    std::unique_ptr<DanteServer> dante_;
    std::unique_ptr<MicroSocks> socks_;
    EngineHarness h;
    TaskSlot slot{h.ctx};

  private:
    template <typename ProxyServer>
    static bool Started(ProxyServer& proxy, ProxyRecord& record) {
        const bool ok = proxy.Start();
        EXPECT_TRUE(ok) << proxy.Diagnostics();
        record.Port = proxy.Port();
        return ok;
    }
};

// Both connections go through the proxy, in passive mode: nothing reaches
// the server directly, and no password reaches the log.
TEST_P(FtpThroughProxy, CarriesControlAndData) {
    static const char* const binaries[] = {TinyProxy::kBinary, DanteServer::kBinary,
                                           MicroSocks::kBinary};
    VARDANE_REQUIRE_SERVER(binaries[static_cast<int>(GetParam().proxy)]);
    const std::string digest = MakeRandomFile(server_->Root() + "file.bin", 600 * 1024 + 7);
    ASSERT_TRUE(server_->Start()) << server_->Diagnostics();
    ProxyRecord proxy;
    ASSERT_TRUE(StartProxy(proxy));
    h.SetProxy(proxy);
    std::string id = h.AddTask(server_->Url(), 2);
    ASSERT_EQ(h.Run(slot, id), TaskState::Completed) << h.owner.Log();
    EXPECT_EQ(Sha256OfFile(h.DownloadDir + "file.bin"), digest);
    const std::string direct = h.ctx.lang.GetLangText("Log_Connecting") + " 127.0.0.1";
    EXPECT_FALSE(h.owner.LogHas(direct)) << h.owner.Log();
    EXPECT_FALSE(h.owner.LogHas("proxypass"));
    EXPECT_FALSE(h.owner.LogHas("Ftp-s3cret"));
}

std::string ProxyCaseName(const ::testing::TestParamInfo<ProxyCase>& info) {
    static const char* const servers[] = {"Vsftpd", "Pyftpdlib", "PureFtpd"};
    static const char* const proxies[] = {"HttpConnect", "Socks4", "Socks5"};
    return std::string(servers[static_cast<int>(info.param.server)]) +
           proxies[static_cast<int>(info.param.proxy)];
}

INSTANTIATE_TEST_SUITE_P(Proxies, FtpThroughProxy,
                         ::testing::Values(ProxyCase{Server::Vsftpd, Proxy::HttpConnect},
                                           ProxyCase{Server::Vsftpd, Proxy::Socks5},
                                           ProxyCase{Server::PyFtpd, Proxy::HttpConnect},
                                           ProxyCase{Server::PyFtpd, Proxy::Socks4},
                                           ProxyCase{Server::PyFtpd, Proxy::Socks5},
                                           ProxyCase{Server::PureFtpd, Proxy::HttpConnect},
                                           ProxyCase{Server::PureFtpd, Proxy::Socks4},
                                           ProxyCase{Server::PureFtpd, Proxy::Socks5}),
                         ProxyCaseName);

}  // namespace
}  // namespace vardane::test
