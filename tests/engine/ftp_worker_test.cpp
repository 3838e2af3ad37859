// FTP downloads end to end: against vsftpd in passive and active mode over
// one and four connections, and against scripted servers for what real
// servers rarely do.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <sstream>
#include <thread>

#include "engine/ftp_worker.h"
#include "net/proxy.h"
#include "platform/text.h"
#include "tests/engine/engine_harness.h"
#include "tests/engine/scripted_ftp_task.h"
#include "tests/support/require_server.h"
#include "tests/support/scripted_server.h"
#include "tests/support/servers.h"
#include "tests/support/sha256.h"

namespace vardane::test {
namespace {

// The lines the task logged as sent, in order.
std::vector<std::string> SentLines(TestOwner& owner) {
    std::istringstream log(owner.Log());
    std::vector<std::string> sent;
    for (std::string line; std::getline(log, line);) {
        size_t kind = line.find(' ');
        if (kind != std::string::npos && line.compare(kind, 3, " 0 ") == 0) {
            sent.push_back(line.substr(kind + 3));
        }
    }
    return sent;
}

bool Contains(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// A direct connection in passive or active mode for new tasks.
void SetDirect(EngineHarness& h, bool passive) {
    ProxyRecord direct;
    direct.PASV = passive;
    h.SetProxy(direct);
}

// vsftpd -------------------------------------------------------------------

// A real server of the given type serving file.bin of a given size, and a
// harness with a slot.
template <typename Server>
class FtpOn : public ::testing::Test {
  protected:
    void SetUp() override { VARDANE_REQUIRE_SERVER(Server::kBinary); }
    // Serves size random bytes as file.bin; returns their digest.
    std::string Serve(int64_t size) {
        std::string digest = MakeRandomFile(server.Root() + "file.bin", size);
        EXPECT_TRUE(server.Start()) << server.Diagnostics();
        return digest;
    }

    Server server;
    EngineHarness h;
    TaskSlot slot{h.ctx};
};
using FtpVsftpd = FtpOn<FtpServer>;

struct VsftpdCase {
    bool passive;
    int threads;
};

class FtpVsftpdModes : public FtpVsftpd, public ::testing::WithParamInterface<VsftpdCase> {};

TEST_P(FtpVsftpdModes, DownloadsTheExactFile) {
    // Odd size, so that blocks and splits do not fall on round numbers.
    const int64_t size = 3 * 1024 * 1024 + 4321;
    const std::string digest = Serve(size);
    SetDirect(h, GetParam().passive);
    std::string id = h.AddTask(server.Url("file.bin"), GetParam().threads);
    ASSERT_EQ(h.Run(slot, id), TaskState::Completed) << h.owner.Log();
    EXPECT_EQ(Sha256OfFile(h.DownloadDir + "file.bin"), digest);
    TaskProgressRecord r = h.Progress(id);
    EXPECT_EQ(r.FileSize, IntToText(size));
    EXPECT_EQ(r.FilePos, IntToText(size));
    std::vector<std::string> sent = SentLines(h.owner);
    const std::string mode = GetParam().passive ? "PASV" : "PORT 127,0,0,1,";
    EXPECT_TRUE(std::any_of(sent.begin(), sent.end(), [&](const std::string& s) {
        return s.rfind(mode, 0) == 0;
    })) << h.owner.Log();
    // Every transfer cut at its block's end says where, and the next block
    // was asked for from the byte after it.
    const std::string blockEnd = h.ctx.lang.GetLangText("Log_BlockEnd") + " ";
    std::istringstream log(h.owner.Log());
    int ends = 0;
    for (std::string line; std::getline(log, line);) {
        if (size_t at = line.find(blockEnd); at != std::string::npos) {
            ++ends;
            const int64_t last = TextToInt(line.substr(at + blockEnd.size()));
            EXPECT_TRUE(Contains(sent, "REST " + IntToText(last + 1))) << line;
        }
    }
    EXPECT_EQ(ends > 0, GetParam().threads > 1) << h.owner.Log();
}

INSTANTIATE_TEST_SUITE_P(Modes, FtpVsftpdModes,
                         ::testing::Values(VsftpdCase{true, 1}, VsftpdCase{true, 4},
                                           VsftpdCase{false, 1}, VsftpdCase{false, 4}),
                         [](const auto& info) {
                             return std::string(info.param.passive ? "Passive" : "Active") +
                                    std::to_string(info.param.threads);
                         });

// A task stopped part-way resumes at the blocks stored in its progress file.
TEST_F(FtpVsftpd, StoppedTaskResumesAtStoredBlocks) {
    const std::string digest = Serve(2 * 1024 * 1024 + 77);
    std::string id = h.AddTask(server.Url("file.bin"), 4);
    // Slowly, so that the stop comes part-way.
    h.SetSpeedLimit(true, 64);
    ASSERT_TRUE(h.Start(slot, id));
    for (int i = 0; i < 600 && slot.task.GetDownloaded() < 256 * 1024; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ASSERT_TRUE(h.StopAndJoin(slot));
    ASSERT_EQ(h.owner.Last().State, TaskState::Stopped) << h.owner.Log();

    TaskProgressRecord stored = h.Progress(id);
    EXPECT_GE(TextToInt(stored.FilePos), 256 * 1024);
    std::vector<std::string> expectedRest;
    for (const std::string& block : stored.Block) {
        int64_t from = TextToInt(block);
        int64_t to = TextToInt(block.substr(block.find('-') + 1));
        if (from != 0 && from < to) {
            expectedRest.push_back("REST " + IntToText(from - 1));
        }
    }
    ASSERT_FALSE(expectedRest.empty()) << stored.Block[0];

    h.SetSpeedLimit(false, 0);
    size_t before = SentLines(h.owner).size();
    ASSERT_EQ(h.Run(slot, id), TaskState::Completed) << h.owner.Log();
    EXPECT_EQ(Sha256OfFile(h.DownloadDir + "file.bin"), digest);
    // Every block left outstanding was asked for where it stood, not again
    // from its start.
    std::vector<std::string> sent = SentLines(h.owner);
    sent.erase(sent.begin(), sent.begin() + static_cast<std::ptrdiff_t>(before));
    for (const std::string& rest : expectedRest) {
        EXPECT_TRUE(Contains(sent, rest)) << rest;
    }
}

// An HTTP redirect to an ftp:// address continues the task over FTP.
TEST_F(FtpVsftpd, HttpRedirectToFtpDownloadsOverFtp) {
    const std::string digest = Serve(300 * 1024 + 5);
    const std::string location = server.Url("file.bin");
    ScriptedServer http([&](ScriptedConnection& c) {
        if (c.ReadUntil("\r\n\r\n")) {
            c.Write("HTTP/1.1 302 Found\r\nLocation: " + location +
                    "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
        }
    });
    std::string id = h.AddTask("http://127.0.0.1:" + std::to_string(http.Port()) + "/file.bin", 2);
    ASSERT_EQ(h.Run(slot, id), TaskState::Completed) << h.owner.Log();
    EXPECT_EQ(Sha256OfFile(h.DownloadDir + "file.bin"), digest);
    EXPECT_TRUE(Contains(SentLines(h.owner), "RETR /file.bin")) << h.owner.Log();
}

// pyftpdlib ----------------------------------------------------------------

// pyftpdlib takes only "anonymous" in lower case and refuses a wrong password
// with 530 for ever.
using FtpPyftpd = FtpOn<PyFtpServer>;

struct PyftpdCase {
    bool passive;
    int threads;
    bool withUser;
};

class FtpPyftpdLogins : public FtpPyftpd, public ::testing::WithParamInterface<PyftpdCase> {};

TEST_P(FtpPyftpdLogins, DownloadsTheExactFile) {
    const std::string digest = Serve(2 * 1024 * 1024 + 999);
    SetDirect(h, GetParam().passive);
    const std::string user = std::string(PyFtpServer::kUser) + ":" + PyFtpServer::kPassword + "@";
    std::string id =
        h.AddTask(server.Url("file.bin", GetParam().withUser ? user : ""), GetParam().threads);
    ASSERT_EQ(h.Run(slot, id), TaskState::Completed) << h.owner.Log();
    EXPECT_EQ(Sha256OfFile(h.DownloadDir + "file.bin"), digest);
    // A finished block is progress: the next login follows without a wait.
    EXPECT_FALSE(h.owner.LogHas(h.ctx.lang.GetLangText("Log_RetryWait1"))) << h.owner.Log();
}

INSTANTIATE_TEST_SUITE_P(Logins, FtpPyftpdLogins,
                         ::testing::Values(PyftpdCase{true, 4, false}, PyftpdCase{false, 2, false},
                                           PyftpdCase{true, 1, true}, PyftpdCase{false, 4, true}),
                         [](const auto& info) {
                             return std::string(info.param.passive ? "Passive" : "Active") +
                                    std::to_string(info.param.threads) +
                                    (info.param.withUser ? "User" : "Anonymous");
                         });

// A wrong password is a failed try like any other: the task fails at the
// retry limit with the server's reply in the log, and leaves no file.
TEST_F(FtpPyftpd, WrongPasswordFailsAtTheRetryLimit) {
    Serve(1000);
    h.Configure([](AppSettings& s) {
        s.RetryLimit = true;
        s.RetryCounts = 2;
    });
    std::string id =
        h.AddTask(server.Url("file.bin", std::string(PyFtpServer::kUser) + ":wrong@"), 1);
    ASSERT_EQ(h.Run(slot, id), TaskState::Failed) << h.owner.Log();
    const std::string log = h.owner.Log();
    const size_t refused = log.find(" 1 530 ");
    const size_t gaveUp = log.find(h.ctx.lang.GetLangText("Log_TooManyRetry"));
    ASSERT_NE(refused, std::string::npos) << log;
    ASSERT_NE(gaveUp, std::string::npos) << log;
    EXPECT_LT(refused, gaveUp);
    EXPECT_TRUE(std::filesystem::is_empty(h.DownloadDir));
}

// Scripted servers ---------------------------------------------------------

// The commands of one login of thread 0 up to RETR. A server that resumes
// is asked for the file's time too (the scripted one has no MDTM).
std::vector<std::string> ProbeSequence(const std::string& user, const std::string& pass,
                                       const std::string& listType, bool resumes = true) {
    std::vector<std::string> commands = {
        "USER " + user,   "PASS " + pass, "REST 100", "REST 0", "TYPE " + listType, "PASV",
        "LIST /file.bin", "TYPE I",       "PASV",     "REST 0", "SIZE /file.bin"};
    if (resumes) {
        commands.push_back("MDTM /file.bin");
    }
    commands.insert(commands.end(), {"REST 0", "RETR /file.bin"});
    return commands;
}

using FtpScripted = ScriptedFtpTask;

TEST_F(FtpScripted, MultiLineGreetingAndRestProbe350) {
    ScriptOptions options;
    options.greeting = "220-Welcome\r\n220-to the scripted server\r\n220 ready\r\n";
    ASSERT_EQ(Run(RandomBytes(100 * 1024 + 3), options, 1, "bob:Pa55w0rd@"), TaskState::Completed)
        << h.owner.Log();
    EXPECT_TRUE(FileArrived());
    // One USER, answered only at the greeting's last line; the listing in
    // ASCII after a 350.
    EXPECT_EQ(Commands(), ProbeSequence("bob", "Pa55w0rd", "A"));
    // The password goes on the wire but never into the log.
    EXPECT_FALSE(h.owner.LogHas("Pa55w0rd"));
    EXPECT_TRUE(Contains(SentLines(h.owner), "PASS ******")) << h.owner.Log();
    // The listing's line went to the log.
    EXPECT_TRUE(h.owner.LogHas("Jan 01 00:00 file.bin"));
}

TEST_F(FtpScripted, RestProbe501StillUsesRangesWithBinaryListing) {
    ScriptOptions options;
    options.restProbeReply = "501 Invalid REST in ASCII mode\r\n";
    ASSERT_EQ(Run(RandomBytes(50 * 1024), options, 1), TaskState::Completed) << h.owner.Log();
    EXPECT_TRUE(FileArrived());
    EXPECT_EQ(Commands(), ProbeSequence("anonymous", "", "I"));
    EXPECT_FALSE(h.Progress(id).Block[0].empty());
}

TEST_F(FtpScripted, NoRestGivesOneStreamFromByteZero) {
    ScriptOptions options;
    options.restProbeReply = "502 Command not implemented\r\n";
    options.restSupported = false;
    ASSERT_EQ(Run(RandomBytes(200 * 1024 + 11), options, 4), TaskState::Completed) << h.owner.Log();
    EXPECT_TRUE(FileArrived());
    // The listing goes in ASCII, the stream is positioned with REST 0, and
    // one thread does it all.
    EXPECT_EQ(Commands(), ProbeSequence("anonymous", "", "A", false));
    EXPECT_EQ(h.Progress(id).ThreadCount, "1");
}

TEST_F(FtpScripted, FileNotFoundAfterSizeFailsTheTask) {
    ScriptOptions options;
    options.sizeReply = "550 No such file\r\n";
    ASSERT_EQ(Run("x", options, 2), TaskState::Failed) << h.owner.Log();
    EXPECT_EQ(h.Progress(id).State, IntToText(StoredState(TaskState::Failed)));
    // Nothing is sent after the SIZE that got the 550, not even QUIT.
    std::vector<std::string> commands = Commands();
    ASSERT_FALSE(commands.empty());
    EXPECT_EQ(commands.back(), "SIZE /file.bin");
    EXPECT_TRUE(h.owner.LogHas(h.ctx.lang.GetLangText("Log_FileNotFound")));
}

TEST_F(FtpScripted, PassiveDataGoesToTheControlHostWhateverThePasvReplySays) {
    ScriptOptions options;
    options.pasvHost = "10,255,255,1";
    ASSERT_EQ(Run(RandomBytes(80 * 1024 + 1), options, 1), TaskState::Completed) << h.owner.Log();
    EXPECT_TRUE(FileArrived());
    EXPECT_FALSE(h.owner.LogHas("10.255.255.1"));
}

// A refused USER is asked again at once on the same connection after logging
// the failure.
TEST_F(FtpScripted, RefusedUserIsAskedAgain) {
    ScriptOptions options;
    options.refuseUser = 1;
    ASSERT_EQ(Run(RandomBytes(10 * 1024), options, 1), TaskState::Completed) << h.owner.Log();
    EXPECT_TRUE(FileArrived());
    std::vector<std::string> commands = Commands();
    ASSERT_GE(commands.size(), 3u);
    EXPECT_EQ(commands[0], "USER anonymous");
    EXPECT_EQ(commands[1], "USER anonymous");
    EXPECT_EQ(commands[2], "PASS ");
    EXPECT_TRUE(h.owner.LogHas(h.ctx.lang.GetLangText("Log_CanNotConnect") + " 127.0.0.1:"));
}

// In active mode only the server may deliver the data: a stranger who finds
// the listening port is turned away and its bytes never reach the file.
TEST_F(FtpScripted, ActiveModeTurnsAwayStrangers) {
    SetDirect(h, false);
    ScriptOptions options;
    options.intruder = true;
    ASSERT_EQ(Run(RandomBytes(60 * 1024 + 7), options, 1), TaskState::Completed) << h.owner.Log();
    EXPECT_TRUE(FileArrived());
    EXPECT_EQ(Server().IntrudersTurnedAway(), 2);  // the listing and the file
}

// A reply the login or the data path cannot go on from fails the try at
// once, and the next login fetches the file; nothing waits for the time-out.
class FtpUselessReply : public ScriptedFtpTask,
                        public ::testing::WithParamInterface<std::pair<const char*, const char*>> {
};

TEST_P(FtpUselessReply, FailsTheTryAtOnce) {
    ScriptOptions options;
    options.firstUserReply = GetParam().first;
    options.secondPasvReply = GetParam().second;
    ASSERT_EQ(Run(RandomBytes(30 * 1024 + 5), options, 1), TaskState::Completed) << h.owner.Log();
    EXPECT_TRUE(FileArrived());
    EXPECT_FALSE(h.owner.LogHas(h.ctx.lang.GetLangText("Log_TimeOut"))) << h.owner.Log();
}

INSTANTIATE_TEST_SUITE_P(Replies, FtpUselessReply,
                         ::testing::Values(std::pair{"332 Need account\r\n", ""},
                                           std::pair{"", "200 Not passive\r\n"}));

}  // namespace
}  // namespace vardane::test
