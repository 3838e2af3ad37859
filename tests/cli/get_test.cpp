// get to its end: the name the user typed, a failure with its reason, and a
// task that fails inside the engine's own restart.
#include <gtest/gtest.h>

#include "platform/file.h"
#include "tests/cli/cli_runner.h"
#include "tests/support/require_server.h"
#include "tests/support/scripted_server.h"
#include "tests/support/servers.h"
#include "tests/support/sha256.h"
#include "tests/support/temp_dir.h"

namespace vardane::test {
namespace {

class GetTest : public ::testing::Test {
  protected:
    CliResult Cli(const std::vector<std::string>& args) { return RunCli(home.Path(), args); }
    TempDir home{"vardane-cli-get"};
    TempDir target{"vardane-cli-get-target"};
};

TEST_F(GetTest, NameOptionSetsTheLocalFileName) {
    VARDANE_REQUIRE_SERVER(NginxServer::kBinary);
    NginxServer nginx;
    std::string sha = MakeRandomFile(nginx.Root() + "server.bin", 200 * 1024 + 1);
    ASSERT_TRUE(nginx.Start()) << nginx.Diagnostics();
    CliResult r =
        Cli({"get", nginx.Url("server.bin"), "--name", "renamed.bin", "--dir", target.Path()});
    ASSERT_EQ(0, r.status) << r.out << r.err;
    EXPECT_EQ(sha, Sha256OfFile(target.Path() + "renamed.bin"));
    EXPECT_FALSE(FileExists(target.Path() + "server.bin"));
}

TEST_F(GetTest, FailedGetExitsOneWithTheTasksErrorLine) {
    VARDANE_REQUIRE_SERVER(NginxServer::kBinary);
    NginxServer nginx;
    ASSERT_TRUE(nginx.Start()) << nginx.Diagnostics();
    CliResult r = Cli({"get", nginx.Url("missing.bin"), "--dir", target.Path()});
    EXPECT_EQ(1, r.status) << r.out << r.err;
    EXPECT_NE(std::string::npos, r.err.find("not found")) << r.err;
    std::vector<std::string> rows = Lines(Cli({"list"}).out);
    ASSERT_EQ(1u, rows.size());
    EXPECT_EQ("failed", Fields(rows[0])[1]);
}

TEST_F(GetTest, RedirectToAnUnreachableFtpAddressEndsTheGet) {
    ScriptedServer server([](ScriptedConnection& c) {
        c.ReadUntil("\r\n\r\n");
        c.Write(
            "HTTP/1.1 302 Found\r\nLocation: ftp://127.0.0.1:1/etc/passwd\r\n"
            "Content-Length: 0\r\n\r\n");
        c.WaitForClose();
    });
    CliProcess get(home.Path(),
                   {"get", "http://127.0.0.1:" + std::to_string(server.Port()) + "/a.bin", "--dir",
                    target.Path()});
    std::optional<CliResult> r = get.WaitFor(60000);
    ASSERT_TRUE(r) << "get still runs after its task ended";
    EXPECT_EQ(1, r->status) << r->out << r->err;
    EXPECT_NE(std::string::npos, r->err.find("Invalid address")) << r->err;
    EXPECT_FALSE(FileExists(target.Path() + "passwd"));
}

}  // namespace
}  // namespace vardane::test
