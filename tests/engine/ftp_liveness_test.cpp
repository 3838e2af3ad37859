// FTP servers that fail in the ways a client can wait on for ever: every try
// counts, every wait ends, and a task that cannot succeed fails at the retry
// limit with nothing left in the download folder. Also what a server may
// leave out (SIZE, the listing) and how often progress reaches the disk.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <sstream>
#include <thread>

#include "platform/text.h"
#include "tests/engine/engine_harness.h"
#include "tests/engine/scripted_ftp_task.h"
#include "tests/support/require_server.h"
#include "tests/support/servers.h"
#include "tests/support/sha256.h"

namespace vardane::test {
namespace {

using FtpLiveness = ScriptedFtpTask;

// A refused listing is only a missing log entry: the download goes on, and
// the next command waits for LIST's own reply.
TEST_F(FtpLiveness, RefusedListingIsSkipped) {
    ScriptOptions options;
    options.listReply = "502 Command not implemented\r\n";
    ASSERT_EQ(Run(RandomBytes(40 * 1024 + 5), options, 1), TaskState::Completed) << h.owner.Log();
    EXPECT_TRUE(FileArrived()) << h.owner.Log();
    std::vector<std::string> commands = Commands();
    auto list = std::find(commands.begin(), commands.end(), "LIST /file.bin");
    ASSERT_NE(list, commands.end());
    ASSERT_NE(list + 1, commands.end());
    EXPECT_EQ(*(list + 1), "TYPE I");
}

// The replies that end LIST (150, then 226 after the data) are LIST's: the
// command after the listing waits for them and gets its own reply.
TEST_F(FtpLiveness, ListRepliesAreNotTakenForTheNextCommands) {
    ASSERT_EQ(Run(RandomBytes(30 * 1024), ScriptOptions{}, 1), TaskState::Completed)
        << h.owner.Log();
    std::istringstream log(h.owner.Log());
    std::vector<std::string> control;  // thread 0's lines sent and received
    for (std::string line; std::getline(log, line);) {
        if (line.rfind("0 0 ", 0) == 0 || line.rfind("0 1 ", 0) == 0) {
            control.push_back(line);
        }
    }
    auto list = std::find(control.begin(), control.end(), "0 0 LIST /file.bin");
    auto done = std::find(list, control.end(), "0 1 226 Done");
    auto type = std::find(list, control.end(), "0 0 TYPE I");
    ASSERT_GE(control.end() - type, 3) << h.owner.Log();
    EXPECT_LT(done, type);
    EXPECT_EQ(*(type + 1), "0 1 200 Type set");
    EXPECT_EQ(*(type + 2), "0 0 PASV");
}

// Without SIZE the file comes as one stream that is complete when the server
// confirms the transfer, whether or not the server knows REST.
class FtpWithoutSize : public FtpLiveness, public ::testing::WithParamInterface<const char*> {};

TEST_P(FtpWithoutSize, DownloadsOneStream) {
    ScriptOptions options;
    options.sizeReply = "500 SIZE not understood\r\n";
    options.restProbeReply = GetParam();
    ASSERT_EQ(Run(RandomBytes(300 * 1024 + 17), options, 4), TaskState::Completed) << h.owner.Log();
    EXPECT_TRUE(FileArrived()) << h.owner.Log();
}

INSTANTIATE_TEST_SUITE_P(RestProbe, FtpWithoutSize,
                         ::testing::Values("350 Restarting at 100\r\n",
                                           "502 Command not implemented\r\n"));

// A data connection that closes part-way is asked for again at once: the
// bytes it brought count as progress, no time-out is waited for.
TEST_F(FtpLiveness, EarlyDataCloseResumesWithoutTimeOut) {
    ScriptOptions options;
    options.cutFirstRetr = 1000;
    ASSERT_EQ(Run(RandomBytes(64 * 1024 + 3), options, 1), TaskState::Completed) << h.owner.Log();
    EXPECT_TRUE(FileArrived());
    EXPECT_FALSE(h.owner.LogHas(h.ctx.lang.GetLangText("Log_TimeOut"))) << h.owner.Log();
}

struct FailingServer {
    const char* name;
    ScriptOptions options;
};

ScriptOptions Failing(void (*change)(ScriptOptions&)) {
    ScriptOptions options;
    change(options);
    return options;
}

class FtpFailsAtRetryLimit : public FtpLiveness,
                             public ::testing::WithParamInterface<FailingServer> {};

// Servers that accept the connection and then never let a try succeed. Each
// try counts, so the limit ends the task: failed, the retry-limit line in the
// log, nothing in the download folder.
TEST_P(FtpFailsAtRetryLimit, TaskFailsAndLeavesNothing) {
    h.Configure([](AppSettings& s) {
        s.RetryLimit = true;
        s.RetryCounts = 2;
        s.ConnectionTimeOut = 1;
    });
    ASSERT_EQ(Run(RandomBytes(20 * 1024), GetParam().options, 1), TaskState::Failed)
        << h.owner.Log();
    EXPECT_TRUE(h.owner.LogHas(h.ctx.lang.GetLangText("Log_TooManyRetry"))) << h.owner.Log();
    EXPECT_FALSE(std::filesystem::exists(h.DownloadDir + "file.bin"));
}

INSTANTIATE_TEST_SUITE_P(
    Servers, FtpFailsAtRetryLimit,
    ::testing::Values(
        FailingServer{"UserRefused", Failing([](ScriptOptions& o) { o.refuseUser = 1000; })},
        FailingServer{"PasswordRefused", Failing([](ScriptOptions& o) { o.refusePass = 1000; })},
        FailingServer{"SilentAfterPasv",
                      Failing([](ScriptOptions& o) { o.silentAfterPasv = true; })},
        FailingServer{"PasvPortNotBytes",
                      Failing([](ScriptOptions& o) { o.pasvHost = "127,0,0,1,999,999"; })},
        FailingServer{"SizeAnsweredWith200",
                      Failing([](ScriptOptions& o) { o.sizeReply = "200 OK\r\n"; })},
        FailingServer{"JunkGreeting", Failing([](ScriptOptions& o) { o.greeting = "hello\r\n"; })},
        FailingServer{"EndlessGreeting", Failing([](ScriptOptions& o) {
                          o.greeting.clear();
                          for (int i = 0; i < 5000; ++i) {
                              o.greeting += "220-Welcome, welcome, welcome\r\n";
                          }
                      })},
        FailingServer{"SizeSmallerThanData", Failing([](ScriptOptions& o) {
                          o.restProbeReply = "502 Command not implemented\r\n";
                          o.restSupported = false;
                          o.sizeReply = "213 1000\r\n";
                      })}),
    [](const auto& info) { return std::string(info.param.name); });

// While bytes flow the progress file is rewritten often, so a killed process
// fetches little again: here it records progress long before a megabyte
// has come in.
TEST(FtpProgress, SavedWhileDataFlows) {
    VARDANE_REQUIRE_SERVER(FtpServer::kBinary);
    FtpServer server;
    MakeRandomFile(server.Root() + "file.bin", 4 * 1024 * 1024);
    ASSERT_TRUE(server.Start()) << server.Diagnostics();
    EngineHarness h;
    TaskSlot slot{h.ctx};
    std::string id = h.AddTask(server.Url("file.bin"), 2);
    h.SetSpeedLimit(true, 128);
    ASSERT_TRUE(h.Start(slot, id));
    int64_t saved = 0;
    for (int i = 0; i < 300 && saved == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        saved = TextToInt(h.Progress(id).FilePos);
    }
    ASSERT_TRUE(h.StopAndJoin(slot, true));
    EXPECT_GT(saved, 0);
    EXPECT_LT(saved, 1024 * 1024);
}

}  // namespace
}  // namespace vardane::test
