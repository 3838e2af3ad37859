// FTP downloads end to end: against vsftpd in passive and active mode over
// one and four connections, and against scripted servers for what real
// servers rarely do.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <sstream>
#include <thread>
#include <utility>

#include "engine/ftp_worker.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "settings/proxy_record.h"
#include "tests/engine/engine_harness.h"
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

// The FTP proxy record of new tasks (Proxy_1): a direct connection in passive
// or active mode, or a proxy.
void SetFtpProxy(EngineHarness& h, const ProxyRecord& record) {
    CRegistryKey key(h.ctx.registry);
    key.Open(RegRoot::CurrentUser, "SOFTWARE\\Vardane\\Proxy", true);
    key.SetString("Proxy_1", FormatProxyRecord(record));
}

void SetDirect(EngineHarness& h, bool passive) {
    ProxyRecord direct;
    direct.PASV = passive;
    SetFtpProxy(h, direct);
}

// vsftpd -------------------------------------------------------------------

// vsftpd serving file.bin of a given size, and a harness with a slot.
class FtpVsftpd : public ::testing::Test {
  protected:
    void SetUp() override { VARDANE_REQUIRE_SERVER(FtpServer::kBinary); }
    // Serves size random bytes as file.bin; returns their digest.
    std::string Serve(int64_t size) {
        std::string digest = MakeRandomFile(server.Root() + "file.bin", size);
        EXPECT_TRUE(server.Start()) << server.Diagnostics();
        return digest;
    }

    FtpServer server;
    EngineHarness h;
    CTaskSlot slot{h.ctx};
};

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
    ASSERT_EQ(h.Run(slot, id), stateCompleted) << h.owner.Log();
    EXPECT_EQ(Sha256OfFile(h.DownloadDir + "file.bin"), digest);
    TaskProgressRecord r = h.Progress(id);
    EXPECT_EQ(r.FileSize, IntToText(size));
    EXPECT_EQ(r.FilePos, IntToText(size));
    std::vector<std::string> sent = SentLines(h.owner);
    const std::string mode = GetParam().passive ? "PASV" : "PORT 127,0,0,1,";
    EXPECT_TRUE(std::any_of(sent.begin(), sent.end(), [&](const std::string& s) {
        return s.rfind(mode, 0) == 0;
    })) << h.owner.Log();
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
    slot.task.hMainWnd = &h.owner;
    // Slowly, so that the stop comes part-way.
    h.SetSpeedLimit(true, 64);
    h.StartTicks(slot);
    ASSERT_TRUE(StartTask(slot, id));
    for (int i = 0; i < 600 && slot.task.GetDownloaded() < 256 * 1024; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    slot.Stop(false);
    ASSERT_TRUE(h.owner.WaitForEnd(std::chrono::seconds(60)));
    h.StopTicks();
    slot.JoinWorkers();
    ASSERT_EQ(h.owner.Last().iState, stateStopped) << h.owner.Log();

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
    ASSERT_EQ(h.Run(slot, id), stateCompleted) << h.owner.Log();
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
    ASSERT_EQ(h.Run(slot, id), stateCompleted) << h.owner.Log();
    EXPECT_EQ(Sha256OfFile(h.DownloadDir + "file.bin"), digest);
    EXPECT_TRUE(Contains(SentLines(h.owner), "RETR /file.bin")) << h.owner.Log();
}

// Through a proxy in passive mode both connections go to the proxy: the
// data connection is tunnelled to the server as well.
TEST_F(FtpVsftpd, Socks5ProxyWithPasswordCarriesControlAndData) {
    VARDANE_REQUIRE_SERVER(MicroSocks::kBinary);
    const std::string digest = Serve(700 * 1024 + 9);
    MicroSocks socks("proxyuser", "proxypass");
    ASSERT_TRUE(socks.Start()) << socks.Diagnostics();
    ProxyRecord proxy;
    proxy.Type = 4;
    proxy.Server = "127.0.0.1";
    proxy.Port = socks.Port();
    proxy.Authenticate = true;
    proxy.User = "proxyuser";
    proxy.Password = "proxypass";
    SetFtpProxy(h, proxy);
    std::string id = h.AddTask(server.Url("file.bin"), 2);
    ASSERT_EQ(h.Run(slot, id), stateCompleted) << h.owner.Log();
    EXPECT_EQ(Sha256OfFile(h.DownloadDir + "file.bin"), digest);
    // Nothing went to the server or its passive ports directly.
    EXPECT_FALSE(h.owner.LogHas(h.ctx.lang.GetLangText("Log_Connecting") + " 127.0.0.1"));
    EXPECT_FALSE(h.owner.LogHas("proxypass"));
}

TEST_F(FtpVsftpd, HttpConnectProxyCarriesControlAndData) {
    VARDANE_REQUIRE_SERVER(TinyProxy::kBinary);
    const std::string digest = Serve(500 * 1024 + 1);
    TinyProxy tiny;
    ASSERT_TRUE(tiny.Start()) << tiny.Diagnostics();
    ProxyRecord proxy;
    proxy.Type = 1;
    proxy.Server = "127.0.0.1";
    proxy.Port = tiny.Port();
    SetFtpProxy(h, proxy);
    std::string id = h.AddTask(server.Url("file.bin"), 2);
    ASSERT_EQ(h.Run(slot, id), stateCompleted) << h.owner.Log();
    EXPECT_EQ(Sha256OfFile(h.DownloadDir + "file.bin"), digest);
    EXPECT_FALSE(h.owner.LogHas(h.ctx.lang.GetLangText("Log_Connecting") + " 127.0.0.1"));
}

// Scripted servers ---------------------------------------------------------

struct ScriptOptions {
    std::string greeting = "220 ready\r\n";
    std::string restProbeReply = "350 Restarting at 100\r\n";  // to "REST 100"
    bool restSupported = true;                                 // other REST commands
    std::string sizeReply;                                     // "" gives "213 <size>"
    std::string pasvHost = "127,0,0,1";
    // Active mode: before the server, a stranger from 127.0.0.2 connects to
    // the client's PORT address and sends junk.
    bool intruder = false;
    // USER commands refused with 530 before one is accepted.
    int refuseUser = 0;
};

// A blocking connection from source (port of the system's choice) to
// 127.0.0.1:port, or -1.
int ConnectFrom(const char* source, int port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in local{}, target{};
    local.sin_family = target.sin_family = AF_INET;
    inet_pton(AF_INET, source, &local.sin_addr);
    inet_pton(AF_INET, "127.0.0.1", &target.sin_addr);
    target.sin_port = htons(static_cast<uint16_t>(port));
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
        ::connect(fd, reinterpret_cast<sockaddr*>(&target), sizeof target) != 0) {
        if (fd >= 0) {
            ::close(fd);
        }
        return -1;
    }
    return fd;
}

// True when the peer closes fd (or resets it) within ten seconds.
bool PeerCloses(int fd) {
    pollfd p{fd, POLLIN, 0};
    char byte;
    return ::poll(&p, 1, 10000) == 1 && ::recv(fd, &byte, 1, 0) <= 0;
}

// A small FTP server on one port: control connections and the passive data
// connections they announce both arrive there. Every control command is
// recorded in order.
class ScriptedFtp {
  public:
    ScriptedFtp(std::string file, ScriptOptions options)
        : file_(std::move(file)),
          options_(std::move(options)),
          server_([this](ScriptedConnection& c) { Serve(c); }) {}
    ~ScriptedFtp() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        changed_.notify_all();
        server_.Stop();
    }

    std::string Url(const std::string& userInfo = "") const {
        return "ftp://" + userInfo + "127.0.0.1:" + std::to_string(server_.Port()) + "/file.bin";
    }
    std::vector<std::string> Commands() {
        std::lock_guard lock(mutex_);
        return commands_;
    }
    int IntrudersTurnedAway() const { return intrudersTurnedAway_; }

  private:
    void Serve(ScriptedConnection& c) {
        bool data = false;
        {
            std::lock_guard lock(mutex_);
            if (dataExpected_ > 0) {
                --dataExpected_;
                data = true;
            }
        }
        if (data) {
            ServeData(c);
        } else {
            ServeControl(c);
        }
    }

    // Waits for what the control connection wants sent, sends it and closes.
    void ServeData(ScriptedConnection& c) {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, std::chrono::seconds(10),
                          [this] { return !payloads_.empty() || stopping_; });
        if (payloads_.empty()) {
            return;
        }
        std::string payload = std::move(payloads_.front());
        payloads_.pop_front();
        lock.unlock();
        c.Write(payload);
        c.Close();
        lock.lock();
        ++dataDone_;
        changed_.notify_all();
    }

    // Active mode: connects to the client's PORT address and sends payload.
    void SendActive(const std::string& payload) {
        const int port = static_cast<int>(std::exchange(activePort_, 0));
        if (options_.intruder) {
            int stranger = ConnectFrom("127.0.0.2", port);
            if (stranger >= 0) {
                (void)!::send(stranger, "JUNK", 4, MSG_NOSIGNAL);
                intrudersTurnedAway_ += PeerCloses(stranger) ? 1 : 0;
                ::close(stranger);
            }
        }
        int fd = ConnectFrom("127.0.0.1", port);
        if (fd >= 0) {
            (void)!::send(fd, payload.data(), payload.size(), MSG_NOSIGNAL);
            ::close(fd);
        }
    }

    // Hands a payload to the data connection and waits until it was sent.
    void SendOnData(const std::string& payload) {
        std::unique_lock lock(mutex_);
        int target = dataDone_ + 1;
        payloads_.push_back(payload);
        changed_.notify_all();
        changed_.wait_for(lock, std::chrono::seconds(10),
                          [&] { return dataDone_ >= target || stopping_; });
    }

    void ServeControl(ScriptedConnection& c) {
        c.Write(options_.greeting);
        int64_t offset = 0;
        while (auto line = c.ReadLine()) {
            {
                std::lock_guard lock(mutex_);
                commands_.push_back(*line);
            }
            std::string reply = Answer(*line, offset, c);
            if (reply.empty()) {
                return;
            }
            c.Write(reply);
        }
    }

    // The reply to one command ("" ends the connection).
    std::string Answer(const std::string& line, int64_t& offset, ScriptedConnection& c) {
        const std::string verb = line.substr(0, line.find(' '));
        if (verb == "USER") {
            if (refusedUsers_ < options_.refuseUser) {
                ++refusedUsers_;
                return "530 Not now\r\n";
            }
            return "331 Password please\r\n";
        }
        if (verb == "PASS") {
            return "230 Logged in\r\n";
        }
        if (verb == "TYPE") {
            return "200 Type set\r\n";
        }
        if (verb == "REST") {
            if (line == "REST 100") {
                return options_.restProbeReply;
            }
            if (!options_.restSupported) {
                return "502 Command not implemented\r\n";
            }
            offset = TextToInt(line.substr(5));
            return "350 Restarting\r\n";
        }
        if (verb == "SIZE") {
            return options_.sizeReply.empty() ? "213 " + IntToText(file_.size()) + "\r\n"
                                              : options_.sizeReply;
        }
        if (verb == "PASV") {
            {
                std::lock_guard lock(mutex_);
                ++dataExpected_;
            }
            const int port = server_.Port();
            return "227 Entering Passive Mode (" + options_.pasvHost + "," +
                   std::to_string(port / 256) + "," + std::to_string(port % 256) + ").\r\n";
        }
        if (verb == "PORT") {
            std::vector<std::string> numbers;
            std::istringstream text(line.substr(5));
            for (std::string n; std::getline(text, n, ',');) {
                numbers.push_back(n);
            }
            activePort_ =
                numbers.size() == 6 ? TextToInt(numbers[4]) * 256 + TextToInt(numbers[5]) : 0;
            return "200 PORT command successful\r\n";
        }
        if (verb == "LIST" || verb == "RETR") {
            c.Write("150 Here it comes\r\n");
            const std::string payload = verb == "LIST"
                                            ? "-rw-r--r-- 1 ftp ftp " + IntToText(file_.size()) +
                                                  " Jan 01 00:00 file.bin\r\n"
                                            : file_.substr(static_cast<size_t>(offset));
            if (activePort_ > 0) {
                SendActive(payload);
            } else {
                SendOnData(payload);
            }
            return "226 Done\r\n";
        }
        if (verb == "QUIT") {
            c.Write("221 Bye\r\n");
            return "";
        }
        return "502 Command not implemented\r\n";
    }

    std::string file_;
    ScriptOptions options_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> commands_;
    std::deque<std::string> payloads_;
    int dataExpected_ = 0;
    int64_t activePort_ = 0;
    int refusedUsers_ = 0;
    std::atomic<int> intrudersTurnedAway_{0};
    int dataDone_ = 0;
    bool stopping_ = false;
    ScriptedServer server_;  // last: its handlers use everything above
};

// The commands of one login of thread 0 up to RETR.
std::vector<std::string> ProbeSequence(const std::string& user, const std::string& pass,
                                       const std::string& listType) {
    return {"USER " + user,   "PASS " + pass,   "REST 100",      "REST 0", "TYPE " + listType,
            "PASV",           "LIST /file.bin", "TYPE I",        "PASV",   "REST 0",
            "SIZE /file.bin", "REST 0",         "RETR /file.bin"};
}

// A scripted server serving `file`, a harness and a slot.
class FtpScripted : public ::testing::Test {
  protected:
    // Runs a task of `threads` connections against a server with options;
    // returns the task's final state.
    int Run(const std::string& file, const ScriptOptions& options, int threads,
            const std::string& userInfo = "") {
        file_ = file;
        server_ = std::make_unique<ScriptedFtp>(file, options);
        id = h.AddTask(server_->Url(userInfo), threads);
        return h.Run(slot, id);
    }
    bool FileArrived() { return Sha256OfFile(h.DownloadDir + "file.bin") == Sha256OfBytes(file_); }
    std::vector<std::string> Commands() { return server_->Commands(); }
    ScriptedFtp& Server() { return *server_; }

    EngineHarness h;
    CTaskSlot slot{h.ctx};
    std::string id;

  private:
    std::string file_;
    std::unique_ptr<ScriptedFtp> server_;
};

TEST_F(FtpScripted, MultiLineGreetingAndRestProbe350) {
    ScriptOptions options;
    options.greeting = "220-Welcome\r\n220-to the scripted server\r\n220 ready\r\n";
    ASSERT_EQ(Run(RandomBytes(100 * 1024 + 3), options, 1, "bob:Pa55w0rd@"), stateCompleted)
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
    ASSERT_EQ(Run(RandomBytes(50 * 1024), options, 1), stateCompleted) << h.owner.Log();
    EXPECT_TRUE(FileArrived());
    EXPECT_EQ(Commands(), ProbeSequence("Anonymous", "", "I"));
    EXPECT_FALSE(h.Progress(id).Block[0].empty());
}

TEST_F(FtpScripted, NoRestGivesOneStreamFromByteZero) {
    ScriptOptions options;
    options.restProbeReply = "502 Command not implemented\r\n";
    options.restSupported = false;
    ASSERT_EQ(Run(RandomBytes(200 * 1024 + 11), options, 4), stateCompleted) << h.owner.Log();
    EXPECT_TRUE(FileArrived());
    // The TYPE argument stays unset, the stream is positioned with REST 0,
    // and one thread does it all.
    EXPECT_EQ(Commands(), ProbeSequence("Anonymous", "", ""));
    EXPECT_EQ(h.Progress(id).ThreadCount, "1");
}

TEST_F(FtpScripted, FileNotFoundAfterSizeFailsTheTask) {
    ScriptOptions options;
    options.sizeReply = "550 No such file\r\n";
    ASSERT_EQ(Run("x", options, 2), stateError) << h.owner.Log();
    EXPECT_EQ(h.Progress(id).State, IntToText(stateError));
    // Nothing is sent after the SIZE that got the 550, not even QUIT.
    std::vector<std::string> commands = Commands();
    ASSERT_FALSE(commands.empty());
    EXPECT_EQ(commands.back(), "SIZE /file.bin");
    EXPECT_TRUE(h.owner.LogHas(h.ctx.lang.GetLangText("Log_FileNotFound")));
}

TEST_F(FtpScripted, PassiveDataGoesToTheControlHostWhateverThePasvReplySays) {
    ScriptOptions options;
    options.pasvHost = "10,255,255,1";
    ASSERT_EQ(Run(RandomBytes(80 * 1024 + 1), options, 1), stateCompleted) << h.owner.Log();
    EXPECT_TRUE(FileArrived());
    EXPECT_FALSE(h.owner.LogHas("10.255.255.1"));
}

// A refused USER is asked again at once on the same connection (in the form
// "USER " + the address's user, empty here) after logging the failure.
TEST_F(FtpScripted, RefusedUserIsAskedAgain) {
    ScriptOptions options;
    options.refuseUser = 1;
    ASSERT_EQ(Run(RandomBytes(10 * 1024), options, 1), stateCompleted) << h.owner.Log();
    EXPECT_TRUE(FileArrived());
    std::vector<std::string> commands = Commands();
    ASSERT_GE(commands.size(), 3u);
    EXPECT_EQ(commands[0], "USER Anonymous");
    EXPECT_EQ(commands[1], "USER ");
    EXPECT_EQ(commands[2], "PASS ");
    EXPECT_TRUE(h.owner.LogHas(h.ctx.lang.GetLangText("Log_CanNotConnect") + " 127.0.0.1:"));
}

// In active mode only the server may deliver the data: a stranger who finds
// the listening port is turned away and its bytes never reach the file.
TEST_F(FtpScripted, ActiveModeTurnsAwayStrangers) {
    SetDirect(h, false);
    ScriptOptions options;
    options.intruder = true;
    ASSERT_EQ(Run(RandomBytes(60 * 1024 + 7), options, 1), stateCompleted) << h.owner.Log();
    EXPECT_TRUE(FileArrived());
    EXPECT_EQ(Server().IntrudersTurnedAway(), 2);  // the listing and the file
}

}  // namespace
}  // namespace vardane::test
