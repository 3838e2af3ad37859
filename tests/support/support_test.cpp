// Smoke tests of the test support: each launcher brings its server up and the
// server answers a real request through it.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>

#include "tests/support/ports.h"
#include "tests/support/require_server.h"
#include "tests/support/scripted_server.h"
#include "tests/support/servers.h"
#include "tests/support/sha256.h"
#include "tests/support/temp_dir.h"

namespace vardane::test {
namespace {

// Sends request on a blocking connection and returns everything until close.
std::string Exchange(int port, const std::string& request) {
    int fd = ConnectLoopback(port);
    if (fd < 0) {
        return {};
    }
    ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    std::string reply;
    char chunk[4096];
    ssize_t n;
    while ((n = ::recv(fd, chunk, sizeof(chunk), 0)) > 0) {
        reply.append(chunk, static_cast<size_t>(n));
    }
    ::close(fd);
    return reply;
}

// The method a SOCKS5 server picks for a greeting offering "no auth".
std::string SocksMethod(int port) {
    int fd = ConnectLoopback(port);
    if (fd < 0) {
        return {};
    }
    ::send(fd, "\x05\x01\x00", 3, MSG_NOSIGNAL);
    char method[2] = {};
    ssize_t n = ::recv(fd, method, 2, MSG_WAITALL);
    ::close(fd);
    return std::string(method, n > 0 ? static_cast<size_t>(n) : 0);
}

TEST(Sha256, KnownDigests) {
    EXPECT_EQ(Sha256OfBytes(""),
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(Sha256OfBytes("abc"),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    // Two blocks: the padding spills into a second block.
    EXPECT_EQ(Sha256OfBytes("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
}

TEST(TempDirAndFiles, RandomFileMatchesItsDigestAndTheFolderGoes) {
    std::string path;
    {
        TempDir dir;
        path = dir.Path();
        ASSERT_EQ(path.back(), '/');
        std::string file = dir / "sub/data.bin";
        std::string digest = MakeRandomFile(file, 200001, 7);
        EXPECT_EQ(digest, Sha256OfFile(file));
        EXPECT_EQ(ReadFile(file), RandomBytes(200001, 7));
        EXPECT_NE(RandomBytes(64, 7), RandomBytes(64, 8));
    }
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(Ports, FreePortIsFreeAndWaitSeesAListener) {
    int port = FreePort();
    ASSERT_GT(port, 0);
    EXPECT_FALSE(WaitForPort(port, std::chrono::milliseconds(50)));
    ScriptedServer server([](ScriptedConnection&) {});
    EXPECT_TRUE(WaitForPort(server.Port()));
}

TEST(ScriptedServerTest, RecordsRequestsAndAnswers) {
    ScriptedServer server([](ScriptedConnection& c) {
        auto line = c.ReadLine();
        ASSERT_TRUE(line.has_value());
        c.Write("echo " + *line + "\r\n");
    });
    EXPECT_EQ(Exchange(server.Port(), "hello\r\nrest"), "echo hello\r\n");
    server.Stop();
    ASSERT_EQ(server.Requests().size(), 1u);
    EXPECT_EQ(server.Requests()[0], "hello\r\n");
    EXPECT_EQ(server.Connections(), 1);
}

TEST(ScriptedServerTest, StopWakesAHandlerWaitingForData) {
    ScriptedServer server([](ScriptedConnection& c) { c.ReadUntil("never"); });
    int fd = ConnectLoopback(server.Port());
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(server.WaitForConnections(1));
    server.Stop();  // must return although the client never sends
    ::close(fd);
}

TEST(Servers, NginxServesRangesAndRedirects) {
    VARDANE_REQUIRE_SERVER(NginxServer::kBinary);
    NginxServer nginx(NginxOptions{.root = {}, .limitRate = 100000});
    WriteFile(nginx.Root() + "a.txt", "0123456789");
    ASSERT_TRUE(nginx.Start()) << nginx.Diagnostics();
    std::string reply = Exchange(nginx.Port(),
                                 "GET /a.txt HTTP/1.1\r\nHost: x\r\nRange: bytes=3-\r\n"
                                 "Connection: close\r\n\r\n");
    EXPECT_EQ(reply.substr(0, 12), "HTTP/1.1 206") << reply;
    EXPECT_EQ(reply.substr(reply.size() - 7), "3456789");
    reply = Exchange(nginx.Port(), "GET /slow/a.txt HTTP/1.0\r\n\r\n");
    EXPECT_EQ(reply.substr(reply.size() - 10), "0123456789") << reply;
    reply = Exchange(nginx.Port(), "GET /redirect/a.txt HTTP/1.0\r\n\r\n");
    EXPECT_EQ(reply.substr(0, 12), "HTTP/1.1 302") << reply;
    EXPECT_NE(reply.find("Location: http://127.0.0.1:" + std::to_string(nginx.Port()) + "/a.txt"),
              std::string::npos)
        << reply;
}

// A blocking FTP control connection for the smoke test.
class FtpControl {
  public:
    explicit FtpControl(int port) : fd_(ConnectLoopback(port)) {}
    ~FtpControl() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    // The next reply line (without CR LF).
    std::string Reply() {
        size_t end;
        char chunk[512];
        while ((end = buffer_.find("\r\n")) == std::string::npos) {
            ssize_t n = ::recv(fd_, chunk, sizeof(chunk), 0);
            if (n <= 0) {
                return {};
            }
            buffer_.append(chunk, static_cast<size_t>(n));
        }
        std::string line = buffer_.substr(0, end);
        buffer_.erase(0, end + 2);
        return line;
    }
    std::string Command(const std::string& command) {
        std::string line = command + "\r\n";
        ::send(fd_, line.data(), line.size(), MSG_NOSIGNAL);
        return Reply();
    }

  private:
    int fd_;
    std::string buffer_;
};

std::string ReadToEnd(int fd) {
    std::string data;
    char chunk[4096];
    ssize_t n;
    while ((n = ::recv(fd, chunk, sizeof(chunk), 0)) > 0) {
        data.append(chunk, static_cast<size_t>(n));
    }
    ::close(fd);
    return data;
}

TEST(Servers, VsftpdServesAnonymousPassiveAndActive) {
    VARDANE_REQUIRE_SERVER(FtpServer::kBinary);
    FtpServer ftp;
    WriteFile(ftp.Root() + "f.bin", "data");
    ASSERT_TRUE(ftp.Start()) << ftp.Diagnostics();
    FtpControl control(ftp.Port());
    EXPECT_EQ(control.Reply().substr(0, 4), "220 ");
    EXPECT_EQ(control.Command("USER Anonymous").substr(0, 4), "331 ");
    ASSERT_EQ(control.Command("PASS x@y").substr(0, 4), "230 ") << ftp.Diagnostics();
    EXPECT_EQ(control.Command("SIZE /f.bin"), "213 4");
    EXPECT_EQ(control.Command("REST 100").substr(0, 4), "350 ");
    EXPECT_EQ(control.Command("REST 0").substr(0, 4), "350 ");
    EXPECT_EQ(control.Command("TYPE I").substr(0, 4), "200 ");

    std::string pasv = control.Command("PASV");
    int h1, h2, h3, h4, p1, p2;
    ASSERT_EQ(std::sscanf(pasv.c_str(), "227 Entering Passive Mode (%d,%d,%d,%d,%d,%d)", &h1, &h2,
                          &h3, &h4, &p1, &p2),
              6)
        << pasv;
    EXPECT_EQ(std::vector<int>({h1, h2, h3, h4}), std::vector<int>({127, 0, 0, 1}));
    int data = ConnectLoopback(p1 * 256 + p2);
    ASSERT_GE(data, 0);
    EXPECT_EQ(control.Command("RETR f.bin").substr(0, 4), "150 ");
    EXPECT_EQ(ReadToEnd(data), "data");
    EXPECT_EQ(control.Reply().substr(0, 4), "226 ");

    ScriptedServer activeData([](ScriptedConnection& c) { c.ReadToClose(); });
    int port = activeData.Port();
    EXPECT_EQ(control
                  .Command("PORT 127,0,0,1," + std::to_string(port / 256) + "," +
                           std::to_string(port % 256))
                  .substr(0, 4),
              "200 ");
    EXPECT_EQ(control.Command("RETR f.bin").substr(0, 4), "150 ");
    EXPECT_EQ(control.Reply().substr(0, 4), "226 ");
    activeData.WaitForHandlers(1);
    activeData.Stop();
    EXPECT_EQ(activeData.Requests(), std::vector<std::string>{"data"});
}

TEST(Servers, ProxiesAndSocksServersListen) {
    for (const char* binary : {TinyProxy::kBinary, MicroSocks::kBinary, DanteServer::kBinary}) {
        VARDANE_REQUIRE_SERVER(binary);
    }
    TinyProxy tinyproxy("u", "p");
    ASSERT_TRUE(tinyproxy.Start()) << tinyproxy.Diagnostics();
    std::string reply = Exchange(tinyproxy.Port(), "GET http://127.0.0.1:1/ HTTP/1.0\r\n\r\n");
    EXPECT_NE(reply.find(" 407 "), std::string::npos) << reply;
    MicroSocks microsocks;
    ASSERT_TRUE(microsocks.Start()) << microsocks.Diagnostics();
    EXPECT_EQ(SocksMethod(microsocks.Port()), std::string("\x05\x00", 2));
    DanteServer dante;
    ASSERT_TRUE(dante.Start()) << dante.Diagnostics();
    EXPECT_EQ(SocksMethod(dante.Port()), std::string("\x05\x00", 2)) << dante.Diagnostics();
}

}  // namespace
}  // namespace vardane::test
