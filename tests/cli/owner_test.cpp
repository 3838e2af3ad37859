// The process that owns a data root keeps answering others whatever one
// client does: silent, dripping, endless, or a forwarded listing of a server
// that never sends. A forwarded add starts its task, a forwarded get's
// Ctrl-C stops its own task only, and a lock file of another user is an
// error at once, not a wait.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "app/single_instance.h"
#include "platform/file.h"
#include "tests/cli/cli_runner.h"
#include "tests/support/require_server.h"
#include "tests/support/scripted_server.h"
#include "tests/support/servers.h"
#include "tests/support/sha256.h"

namespace vardane::test {
namespace {

// The client's own limit for an answer; an owner that is held never meets it.
constexpr int kAnswerLimitMs = 30000;

class OwnerTest : public ::testing::Test {
  protected:
    // vardane-cli run --stay owns the data root and serves the others.
    void StartOwner() {
        owner_ =
            std::make_unique<CliProcess>(home.Path(), std::vector<std::string>{"run", "--stay"});
        ASSERT_TRUE(WaitUntil([&] { return FileExists(home.Path() + "vardane.sock"); }));
    }
    void TearDown() override {
        if (owner_) {
            owner_->Interrupt();
            EXPECT_EQ(3, owner_->Wait().status);
        }
    }
    // `list` from a second process, answered before the client's limit.
    void ExpectListAnswered(const char* beside) {
        CliProcess list(home.Path(), {"list"});
        std::optional<CliResult> r = list.WaitFor(kAnswerLimitMs);
        ASSERT_TRUE(r) << "list not answered beside " << beside;
        EXPECT_EQ(0, r->status) << r->err;
    }

    TempDir home{"vardane-owner"};
    TempDir target{"vardane-owner-target"};
    std::unique_ptr<CliProcess> owner_;
};

// Reads frames until the owner closes: the text of its refusal ('R').
std::string Refusal(int fd) {
    timeval limit{kAnswerLimitMs / 1000, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof(limit));
    std::string text;
    char type = 0;
    std::string payload;
    while (ReadFrame(fd, type, payload)) {
        text += type == 'R' ? payload : "";
    }
    return text;
}

TEST_F(OwnerTest, SilentDrippingAndEndlessClientsHoldNobodyUp) {
    ASSERT_NO_FATAL_FAILURE(StartOwner());
    int silent = ConnectToInstance(home.Path());
    ASSERT_GE(silent, 0);
    ExpectListAnswered("a silent client");

    // One byte a second of a request that would never end.
    int drip = ConnectToInstance(home.Path());
    ASSERT_GE(drip, 0);
    std::atomic<bool> stop{false};
    std::thread dripper([&] {
        const std::string frame = EncodeFrame('A', std::string(1000, 'x'));
        for (char byte : frame) {
            if (stop || send(drip, &byte, 1, MSG_NOSIGNAL) != 1) {
                return;
            }
            std::this_thread::sleep_for(std::chrono::seconds(1));
        }
    });
    ExpectListAnswered("a dripping client");
    EXPECT_NE(std::string::npos, Refusal(drip).find("not complete")) << "the dripper is closed";
    stop = true;
    dripper.join();

    // Frames without an end: the owner drops the client after its cap, long
    // before this much has gone out.
    int endless = ConnectToInstance(home.Path());
    ASSERT_GE(endless, 0);
    const std::string frame = EncodeFrame('A', std::string(64 * 1024, 'y'));
    size_t sent = 0;
    while (sent < (64u << 20) && send(endless, frame.data(), frame.size(), MSG_NOSIGNAL) > 0) {
        sent += frame.size();
    }
    EXPECT_LT(sent, 8u << 20) << "never dropped";
    ExpectListAnswered("a client sending endless frames");
    for (int fd : {silent, drip, endless}) {
        close(fd);
    }
}

// A forwarded listing of a server whose data connection never sends: the
// owner serves others meanwhile, and Ctrl-C ends the listing's client.
TEST_F(OwnerTest, ForwardedListingOfASilentServerRunsBesideTheLoop) {
    ScriptedServer data([](ScriptedConnection& c) { c.WaitForClose(std::chrono::seconds(90)); });
    ScriptedServer control([&](ScriptedConnection& c) {
        c.Write("220 ready\r\n");
        while (std::optional<std::string> line = c.ReadLine(std::chrono::seconds(90))) {
            const std::string verb = line->substr(0, line->find(' '));
            const int port = data.Port();
            const std::string reply = verb == "USER"   ? "331 Password please\r\n"
                                      : verb == "PASS" ? "230 Logged in\r\n"
                                      : verb == "PWD"  ? "257 \"/\" is the current directory\r\n"
                                      : verb == "PASV" ? "227 Entering Passive Mode (127,0,0,1," +
                                                             std::to_string(port / 256) + "," +
                                                             std::to_string(port % 256) + ").\r\n"
                                      : verb == "LIST" ? "150 Here it comes\r\n"
                                                       : "200 OK\r\n";
            c.Write(reply);
        }
    });
    ASSERT_EQ(0, RunCli(home.Path(), {"config", "HKCU\\SOFTWARE\\Vardane\\Connection",
                                      "ConnectionTimeOut", "90"})
                     .status);
    ASSERT_NO_FATAL_FAILURE(StartOwner());
    CliProcess ls(home.Path(), {"ls", "ftp://127.0.0.1:" + std::to_string(control.Port()) + "/"});
    ASSERT_TRUE(WaitUntil([&] { return data.Connections() > 0; })) << "no listing started";
    ExpectListAnswered("a forwarded listing");
    ls.Interrupt();
    std::optional<CliResult> r = ls.WaitFor(kAnswerLimitMs);
    ASSERT_TRUE(r) << "Ctrl-C did not end the listing";
    EXPECT_EQ(3, r->status) << r->out << r->err;
}

TEST_F(OwnerTest, CtrlCOfAForwardedGetStopsItsTaskOnly) {
    VARDANE_REQUIRE_SERVER(NginxServer::kBinary);
    NginxOptions options;
    options.limitRate = 32 * 1024;
    NginxServer nginx(options);
    MakeRandomFile(nginx.Root() + "a.bin", 8 << 20, 1);
    MakeRandomFile(nginx.Root() + "b.bin", 8 << 20, 2);
    ASSERT_TRUE(nginx.Start()) << nginx.Diagnostics();
    ASSERT_EQ(
        0, RunCli(home.Path(), {"config", "HKCU\\SOFTWARE\\Vardane\\Connection", "MaxTasks", "2"})
               .status);
    ASSERT_NO_FATAL_FAILURE(StartOwner());
    // add without --manual starts its task in the owner.
    CliResult added = RunCli(home.Path(), {"add", nginx.Url("slow/a.bin"), "--dir", target.Path()});
    ASSERT_EQ(0, added.status) << added.err;
    const std::string a = Lines(added.out).at(0);

    CliProcess get(home.Path(), {"get", nginx.Url("slow/b.bin"), "--dir", target.Path()});
    auto states = [&] {
        std::string text;
        for (const std::string& row : Lines(RunCli(home.Path(), {"list"}).out)) {
            text += Fields(row)[0] + "=" + Fields(row)[1] + " ";
        }
        return text;
    };
    std::string b;
    ASSERT_TRUE(WaitUntil([&] {
        std::vector<std::string> rows = Lines(RunCli(home.Path(), {"list"}).out);
        if (rows.size() == 2 && Fields(rows[1])[1] == "running") {
            b = Fields(rows[1])[0];
        }
        return !b.empty();
    })) << states();
    get.Interrupt();
    std::optional<CliResult> r = get.WaitFor(kAnswerLimitMs);
    ASSERT_TRUE(r) << "the get did not end";
    EXPECT_EQ(3, r->status) << r->out << r->err;
    EXPECT_EQ(a + "=running " + b + "=stopped ", states());
    ASSERT_EQ(0, RunCli(home.Path(), {"stop", "--all"}).status);
}

// After one run as root the lock file is root's: another user is told so at
// once instead of waiting for a holder that does not exist.
TEST_F(OwnerTest, LockFileOfAnotherUserIsAnErrorAtOnce) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root to make a file of another user";
    }
    const uid_t nobody = 65534;
    ASSERT_EQ(0, chown(home.Path().c_str(), nobody, nobody));
    ASSERT_TRUE(WriteFile(InstanceLockPath(home.Path()), ""));
    ASSERT_EQ(0, chmod(InstanceLockPath(home.Path()).c_str(), 0600));
    CliProcess limit(home.Path(), {"limit"}, std::nullopt, nobody);
    std::optional<CliResult> r = limit.WaitFor(kAnswerLimitMs);
    ASSERT_TRUE(r) << "still waiting for the lock";
    EXPECT_EQ(1, r->status) << r->err;
    EXPECT_NE(std::string::npos,
              r->err.find("cannot lock " + InstanceLockPath(home.Path()) + ": owned by root"))
        << r->err;
}

}  // namespace
}  // namespace vardane::test
