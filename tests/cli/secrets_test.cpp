// What vardane-cli prints of secrets and of server text: passwords masked in
// every address and setting it shows (the tasks keep the real login), the
// password given on standard input, and no control character of a server
// reaching the terminal.
#include <gtest/gtest.h>

#include "platform/file.h"
#include "task/progress_file.h"
#include "task/url.h"
#include "tests/cli/cli_runner.h"
#include "tests/engine/scripted_ftp.h"
#include "tests/support/require_server.h"
#include "tests/support/servers.h"

namespace vardane::test {
namespace {

constexpr char kProxyKey[] = "HKCU\\SOFTWARE\\Vardane\\Proxy";
constexpr char kProxyPassword[] = "Pr0xy,Pw";

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

class Secrets : public ::testing::Test {
  protected:
    CliResult Run(const std::vector<std::string>& args,
                  const std::optional<std::string>& input = std::nullopt) {
        return RunCli(home.Path(), args, input);
    }

    TempDir home{"vardane-cli-secrets"};
    TempDir target{"vardane-cli-secrets-target"};
};

// A site saved with the password from standard input, listed with --urls,
// added and downloaded from the printed address: the password is never
// printed, yet every step logs in with it.
TEST_F(Secrets, PasswordsArePrintedMaskedAndTheTasksKeepThem) {
    VARDANE_REQUIRE_SERVER(PyFtpServer::kBinary);
    PyFtpServer ftp;
    WriteFile(ftp.Root() + "a.bin", "alpha");
    WriteFile(ftp.Root() + "b.bin", "bravo");
    WriteFile(ftp.Root() + "c.bin", "charlie");
    ASSERT_TRUE(ftp.Start()) << ftp.Diagnostics();
    const std::string password = PyFtpServer::kPassword;
    const std::string site = "ftp://127.0.0.1:" + std::to_string(ftp.Port()) + "/";

    CliResult r = Run({"sites", "add", "S", site, "--user", PyFtpServer::kUser, "--password-stdin"},
                      password + "\n");
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(Run({"config", kProxyKey, "Proxy_2",
                   std::string("1,1,Http Connect,127.0.0.1,8080,1,pu,") + kProxyPassword})
                  .status,
              0);

    r = Run({"ls", "--site", "S", "--urls"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string masked = "ftp://" + std::string(PyFtpServer::kUser) +
                               ":******@127.0.0.1:" + std::to_string(ftp.Port()) + "/";
    EXPECT_EQ(Lines(r.out),
              (std::vector<std::string>{masked + "a.bin", masked + "b.bin", masked + "c.bin"}));

    r = Run({"add", masked + "a.bin", "--dir", target.Path()});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string id = Lines(r.out).at(0);
    EXPECT_EQ(ReadProgress(ProgressFilePath(home.Path(), id)).BaseURL,
              ftp.Url("a.bin", std::string(PyFtpServer::kUser) + ":" + password + "@"));

    const std::vector<std::vector<std::string>> printing = {
        {"show", id}, {"list"}, {"config"}, {"config", kProxyKey, "Proxy_2"}, {"sites"}};
    for (const auto& args : printing) {
        r = Run(args);
        EXPECT_EQ(r.status, 0) << args[0] << r.err;
        EXPECT_FALSE(Has(r.out + r.err, password)) << r.out;
        EXPECT_FALSE(Has(r.out + r.err, kProxyPassword)) << r.out;
    }
    EXPECT_TRUE(Has(Run({"show", id}).out, "BaseURL=" + masked + "a.bin\n"));
    EXPECT_TRUE(Has(Run({"config"}).out, "Proxy_2=1,1,Http Connect,127.0.0.1,8080,1,pu,******\n"));
    r = Run({"config", "--show-secrets"});
    EXPECT_TRUE(Has(r.out, kProxyPassword));
    EXPECT_TRUE(Has(r.out, ":" + password + "@"));

    // The printed address resumes the added task, which logs in for real.
    r = Run({"get", masked + "a.bin"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(ReadFile(target.Path() + "a.bin"), "alpha");

    // A login for a task read from standard input, not from argv.
    r = Run({"get", site + "b.bin", "--user", PyFtpServer::kUser, "--password-stdin", "--dir",
             target.Path()},
            password + "\n");
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(ReadFile(target.Path() + "b.bin"), "bravo");
    EXPECT_EQ(Run({"get", site + "d.bin", "--password-stdin"}, "").status, 2);
    EXPECT_EQ(Run({"get", site + "d.bin", "--password", "x", "--password-stdin"}, "x\n").status, 2);

    // Handed to a running owner, the command carries the password read here.
    CliProcess owner(home.Path(), {"run", "--stay"});
    ASSERT_TRUE(WaitUntil([&] { return FileExists(home.Path() + "vardane.sock"); }));
    r = Run({"get", site + "c.bin", "--user", PyFtpServer::kUser, "--password-stdin", "--dir",
             target.Path()},
            password + "\n");
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(ReadFile(target.Path() + "c.bin"), "charlie");
    owner.Interrupt();
    EXPECT_EQ(owner.Wait().status, 3);
}

// Greeting, replies and listing lines of a hostile server carry terminal
// escapes, a lone C1 byte and a right-to-left override.
TEST_F(Secrets, ServerTextReachesTheTerminalWithoutControls) {
    const std::string escapes = "\x1b]0;owned\x07\x1b[2J";
    ScriptOptions options;
    options.greeting = "220 " + escapes + " ready\r\n";
    options.cwdReply =
        "250 \x9b"
        "31m changed\r\n";
    options.listing = "total 2 " + escapes + "\r\n" +
                      "-rw-r--r-- 1 ftp ftp 4 Jan 01 00:00 evil\xe2\x80\xaetxt.exe\r\n" +
                      "-rw-r--r-- 1 ftp ftp 4 Jan 01 00:00 a\x1b[31mb.bin\r\n";
    ScriptedFtp ftp("data", options);
    ScriptOptions refusing = options;
    refusing.listReply = "550 " + escapes + " no\r\n";
    ScriptedFtp refused("data", refusing);

    auto clean = [](const CliResult& r) {
        const std::string all = r.out + r.err;
        for (const std::string bad : {"\x1b", "\x07", "\x9b", "\xc2\x9b", "\xe2\x80\xae"}) {
            EXPECT_FALSE(Has(all, bad)) << all;
        }
    };
    const std::string folder = ftp.Url().substr(0, ftp.Url().rfind('/') + 1);
    CliResult r = Run({"ls", folder});
    ASSERT_EQ(r.status, 0) << r.err;
    clean(r);
    EXPECT_TRUE(Has(r.out, "evil?txt.exe")) << r.out;
    EXPECT_TRUE(Has(r.err, "total 2 ?]0;owned??[2J")) << r.err;

    r = Run({"ls", refused.Url().substr(0, refused.Url().rfind('/') + 1)});
    EXPECT_EQ(r.status, 1);
    clean(r);
    EXPECT_TRUE(Has(r.err, "550")) << r.err;

    r = Run({"get", "-v", ftp.Url(), "--dir", target.Path()});
    ASSERT_EQ(r.status, 0) << r.err;
    clean(r);
    EXPECT_TRUE(Has(r.out, "220 ?]0;owned??[2J ready")) << r.out;
    r = Run({"list"});
    clean(r);
}

}  // namespace
}  // namespace vardane::test
