// vardane-cli get on https: the CA file option, the opt-out (which ends with
// the get that gave it), and the exit status and reason of a certificate
// that does not verify.
#include <gtest/gtest.h>

#include "platform/file.h"
#include "tests/cli/cli_runner.h"
#include "tests/support/https_test.h"
#include "tests/support/scripted_server.h"

namespace vardane::test {
namespace {

class HttpsGet : public HttpsTest {
  protected:
    std::unique_ptr<NginxServer> Serve(const CertPair& cert) {
        return ServeHttps(cert, "file.bin", 1024 * 1024 + 3);
    }
    CliResult Get(const std::string& url, std::vector<std::string> extra) {
        std::vector<std::string> args{"get", url, "--dir", target.Path()};
        args.insert(args.end(), extra.begin(), extra.end());
        return RunCli(home.Path(), args);
    }

    TempDir home{"vardane-cli-https"};
    TempDir target{"vardane-cli-https-target"};
};

TEST_F(HttpsGet, CaFileLetsFourConnectionsFetchTheExactFile) {
    auto nginx = Serve(Pki().Good());
    CliResult r = Get(nginx->Url("file.bin"), {"--connections", "4", "--ca-file", Pki().CaFile()});
    ASSERT_EQ(0, r.status) << r.out << r.err;
    EXPECT_EQ(digest, Sha256OfFile(target.Path() + "file.bin"));
}

TEST_F(HttpsGet, CertificateThatDoesNotVerifyExitsOneWithTheReason) {
    const std::pair<CertPair, std::string> cases[] = {
        {Pki().Expired(), "expired certificate"},
        {Pki().WrongHost(), "wrong host name"},
        {Pki().Untrusted(), "untrusted CA"},
    };
    for (const auto& [cert, reason] : cases) {
        auto nginx = Serve(cert);
        CliResult r = Get(nginx->Url("file.bin"), {"--ca-file", Pki().CaFile()});
        EXPECT_EQ(1, r.status) << r.out << r.err;
        EXPECT_NE(std::string::npos, r.err.find(reason)) << r.err;
        EXPECT_FALSE(FileExists(target.Path() + "file.bin"));
    }
}

TEST_F(HttpsGet, InsecureAcceptsTheCertificateAndWarns) {
    auto nginx = Serve(Pki().WrongHost());
    CliResult r = Get(nginx->Url("file.bin"), {"--insecure", "--verbose"});
    ASSERT_EQ(0, r.status) << r.out << r.err;
    EXPECT_EQ(digest, Sha256OfFile(target.Path() + "file.bin"));
    EXPECT_NE(std::string::npos, r.out.find("NOT checked")) << r.out;
    EXPECT_NE(std::string::npos, r.err.find("--insecure")) << r.err;
}

// Leaving https for http is followed with a warning on standard error, and
// refused (the plain server never asked) once RefuseHttpsDowngrade is set.
TEST_F(HttpsGet, RedirectToHttpWarnsOrIsRefused) {
    ScriptedServer plain([](ScriptedConnection& c) {
        if (c.ReadUntil("\r\n\r\n")) {
            c.Write("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nplain");
        }
        c.WaitForClose();
    });
    NginxOptions options;
    options.extraConfig =
        "    location /back/ { return 302 http://127.0.0.1:" + std::to_string(plain.Port()) +
        "/file.bin; }\n";
    auto nginx = ServeHttps(Pki().Good(), "file.bin", 1024, 1, options);
    CliResult r = Get(nginx->Url("back/one.bin"), {"--ca-file", Pki().CaFile()});
    ASSERT_EQ(0, r.status) << r.out << r.err;
    EXPECT_EQ("plain", ReadFile(target.Path() + "one.bin"));
    EXPECT_NE(std::string::npos, r.err.find("without TLS")) << r.err;

    ASSERT_EQ(0, RunCli(home.Path(), {"config", "HKCU\\SOFTWARE\\Vardane\\Protocol",
                                      "RefuseHttpsDowngrade", "1"})
                     .status);
    const int served = plain.Connections();
    r = Get(nginx->Url("back/two.bin"), {"--ca-file", Pki().CaFile()});
    EXPECT_EQ(1, r.status) << r.out << r.err;
    EXPECT_NE(std::string::npos, r.err.find("RefuseHttpsDowngrade")) << r.err;
    EXPECT_EQ(served, plain.Connections());
    EXPECT_FALSE(FileExists(target.Path() + "two.bin"));
}

// A get handed to a running owner with --insecure, stopped part-way: the
// opt-out was that get's. The next start, by another command, checks the
// certificate again and fails the task.
TEST_F(HttpsGet, InsecureEndsWithTheRunOfItsGet) {
    NginxOptions options;
    options.limitRate = 64 * 1024;
    auto nginx = ServeHttps(Pki().WrongHost(), "file.bin", 1024 * 1024 + 3, 1, options);
    CliProcess owner(home.Path(), {"run", "--stay"});
    ASSERT_TRUE(WaitUntil([&] { return FileExists(home.Path() + "vardane.sock"); }));
    CliProcess get(home.Path(),
                   {"get", nginx->Url("slow/file.bin"), "--dir", target.Path(), "--insecure"});
    std::string id;
    // The task's row in the downloading list (empty once it left it).
    auto row = [&] {
        for (const std::string& line : Lines(RunCli(home.Path(), {"list"}).out)) {
            std::vector<std::string> f = Fields(line);
            if (f.size() > 5 && (id.empty() || f[0] == id)) {
                id = f[0];
                return f;
            }
        }
        return std::vector<std::string>();
    };
    ASSERT_TRUE(WaitUntil([&] {
        std::vector<std::string> f = row();
        return !f.empty() && f[1] == "running" && !f[5].empty() && f[5] != "0";
    })) << "no progress";
    ASSERT_EQ(0, RunCli(home.Path(), {"stop", id}).status);
    EXPECT_EQ(1, get.Wait().status);

    ASSERT_EQ(0, RunCli(home.Path(), {"start", id}).status);
    std::string end;
    ASSERT_TRUE(WaitUntil([&] {
        std::vector<std::string> f = row();
        end = f.empty() ? "gone" : f[1];
        return end != "running" && end != "waiting" && end != "stopped";
    }));
    EXPECT_EQ("failed", end) << "the later start skipped the certificate check";
    EXPECT_FALSE(FileExists(target.Path() + "file.bin"));
    owner.Interrupt();
    owner.Wait();
}

TEST_F(HttpsGet, UnreadableCaFileIsRefusedBeforeATaskIsMade) {
    CliResult r = Get("https://127.0.0.1:1/file.bin", {"--ca-file", home.Path() + "none.pem"});
    EXPECT_EQ(1, r.status);
    EXPECT_NE(std::string::npos, r.err.find("cannot read the CA file")) << r.err;
    EXPECT_TRUE(RunCli(home.Path(), {"list", "downloading"}).out.empty());
}

}  // namespace
}  // namespace vardane::test
