// TLS on the event socket against nginx: the event rules the workers rely on
// hold for bytes that the session decrypted ahead, and a failed check comes
// back as a connect error with its reason.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>

#include <algorithm>
#include <cstring>

#include "net/event_socket.h"
#include "net/send_command.h"
#include "tests/net/net_test_util.h"
#include "tests/support/https_test.h"
#include "tests/support/scripted_server.h"

namespace vardane::test {
namespace {

class TlsSocket : public HttpsTest {
  protected:
    void TearDown() override { CloseSockets(set, 1); }

    // Connects slot 0 to port and runs the handshake; the events of its end.
    NetworkEvents Handshake(int port, const TlsOptions& options) {
        CreateSockets(set, 1);
        ConnectSocket(set, 0, "127.0.0.1", port, "127.0.0.1", port);
        NetworkEvents connected = NextEvents(set, 0);
        EXPECT_TRUE(connected.NetworkEvents & kFdConnect);
        EXPECT_EQ(connected.ConnectError, 0);
        EXPECT_TRUE(StartTls(set, 0, "127.0.0.1", options));
        return NextEvents(set, 0);
    }
    NetworkEvents Handshake(int port) { return Handshake(port, TlsOptions{true, pki.CaFile()}); }
    // Requests the body and reads the reply whole (the session also takes in
    // what the server sent besides it), then closes the slot; whether the
    // handshake resumed an earlier session.
    bool FetchOnce(int port, const TlsOptions& options) {
        NetworkEvents done = Handshake(port, options);
        EXPECT_EQ(done.ConnectError, 0);
        bool resumed = TlsOf(set, 0)->Resumed();
        SendCommand(set, owner, "GET /a.bin HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n", "");
        std::string reply;
        while (reply.size() < body.size() ||
               reply.compare(reply.size() - body.size(), body.size(), body) != 0) {
            NetworkEvents e = NextEvents(set, 0, 4);
            if (!(e.NetworkEvents & kFdRead)) {
                ADD_FAILURE() << reply.size() << " bytes so far";
                break;
            }
            char chunk[64 * 1024];
            int64_t n = ReceiveBytes(set, 0, chunk, sizeof chunk);
            reply.append(chunk, static_cast<size_t>(std::max<int64_t>(n, 0)));
        }
        CloseSockets(set, 1);
        return resumed;
    }
    std::unique_ptr<NginxServer> Serve(const CertPair& cert) {
        body = RandomBytes(100 * 1000 + 11, 4);
        return ServeHttps(cert, "a.bin", static_cast<int64_t>(body.size()), 4);
    }

    TestPki& pki = Pki();
    ConnectionSet set;
    RecordingOwner owner;
    std::string body;
};

// Reading 7 bytes at a time leaves most of every record inside the session.
// The connection stays open after the reply, so once the last record has
// left the socket only the session holds the rest: each of those bytes must
// still come as a read event, or the reply would stall.
TEST_F(TlsSocket, BytesHeldInsideTheSessionRaiseReadEvents) {
    auto nginx = Serve(pki.Good());
    NetworkEvents done = Handshake(nginx->Port());
    ASSERT_TRUE(done.NetworkEvents & kFdConnect);
    ASSERT_EQ(done.ConnectError, 0) << TlsOf(set, 0)->FailureText();
    SendCommand(set, owner, "GET /a.bin HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n", "");
    std::string reply;
    auto complete = [&] {
        return reply.size() > body.size() &&
               reply.compare(reply.size() - body.size(), body.size(), body) == 0;
    };
    while (!complete()) {
        NetworkEvents e = NextEvents(set, 0, 4);
        ASSERT_TRUE(e.NetworkEvents & kFdRead) << reply.size() << " bytes so far";
        char chunk[7];
        int64_t n = ReceiveBytes(set, 0, chunk, sizeof chunk);
        if (n > 0) {
            reply.append(chunk, static_cast<size_t>(n));
        }
    }
}

// The last record is read all but one byte: that byte is all that is left,
// inside the session, and it must still come as a read event.
TEST_F(TlsSocket, LastByteHeldInsideTheSessionIsARead) {
    ScriptedServer server([&](ScriptedConnection& c) {
        if (c.StartTls(pki.Good().cert, pki.Good().key) && c.Write("0123456789")) {
            c.WaitForClose();
        }
    });
    NetworkEvents done = Handshake(server.Port());
    ASSERT_EQ(done.ConnectError, 0) << TlsOf(set, 0)->FailureText();
    std::string got;
    char chunk[10] = {};
    for (int turn = 0; turn < 3 && got.size() < 10; ++turn) {
        NetworkEvents e = NextEvents(set, 0, 4);
        ASSERT_TRUE(e.NetworkEvents & kFdRead) << got.size() << " bytes so far";
        int64_t n = ReceiveBytes(set, 0, chunk, got.empty() ? 9 : 1);
        got.append(chunk, static_cast<size_t>(std::max<int64_t>(n, 0)));
    }
    EXPECT_EQ(got, "0123456789");
}

// A request goes out as one write: sent a line at a time it took one TLS
// record per line, and every line after the first waited for the server's
// delayed acknowledgement (about 40 ms a request).
TEST_F(TlsSocket, ARequestIsOneRecordOnASocketWithoutDelay) {
    std::optional<std::string> first;
    ScriptedServer server([&](ScriptedConnection& c) {
        if (c.StartTls(pki.Good().cert, pki.Good().key)) {
            first = c.ReadOnce();
            c.WaitForClose();
        }
    });
    ASSERT_EQ(Handshake(server.Port()).ConnectError, 0);
    int noDelay = 0;
    socklen_t length = sizeof noDelay;
    ASSERT_EQ(::getsockopt(set[0].Socket, IPPROTO_TCP, TCP_NODELAY, &noDelay, &length), 0);
    EXPECT_EQ(noDelay, 1);
    SendCommand(set, owner, "GET /a HTTP/1.1\r\nHost: h:443\r\nConnection: close\r\n\r\n", "");
    CloseSockets(set, 1);
    server.WaitForHandlers(1);
    EXPECT_EQ(first, "GET /a HTTP/1.1\r\nHost: h:443\r\nConnection: close\r\n\r\n");
}

// A later connection to the same server resumes the session of an earlier
// one, but only under the same way of checking: a session made without the
// certificate check never spares a checking connection its check.
TEST_F(TlsSocket, LaterConnectionsResumeOnlyUnderTheSameChecks) {
    auto nginx = Serve(pki.Good());
    const TlsOptions checked{true, pki.CaFile()};
    EXPECT_FALSE(FetchOnce(nginx->Port(), TlsOptions{false, ""}));
    EXPECT_FALSE(FetchOnce(nginx->Port(), checked));
    EXPECT_TRUE(FetchOnce(nginx->Port(), checked));
    EXPECT_TRUE(FetchOnce(nginx->Port(), checked));
}

TEST_F(TlsSocket, FailedCheckIsAConnectErrorWithItsReason) {
    auto nginx = Serve(pki.Expired());
    NetworkEvents done = Handshake(nginx->Port());
    ASSERT_TRUE(done.NetworkEvents & kFdConnect);
    EXPECT_EQ(done.ConnectError, kErrorTls);
    ASSERT_NE(TlsOf(set, 0), nullptr);
    EXPECT_EQ(TlsOf(set, 0)->Failure(), TlsFailure::Verify);
    EXPECT_NE(TlsOf(set, 0)->FailureText().find("expired"), std::string::npos);
}

// The TLS code is loaded from its module on first use, and only a module of
// this build: a missing file or another library is refused with its reason
// and never called into.
TEST(TlsModule, OnlyAModuleOfThisBuildIsLoaded) {
    std::string why;
    EXPECT_NE(TlsModule(&why), nullptr) << why;
    EXPECT_EQ(LoadTlsModule("/nonexistent/libvardane-tls.so", why), nullptr);
    EXPECT_NE(why.find("/nonexistent/libvardane-tls.so"), std::string::npos) << why;
    Dl_info libc{};
    ASSERT_NE(dladdr(reinterpret_cast<void*>(&::strlen), &libc), 0);
    EXPECT_EQ(LoadTlsModule(libc.dli_fname, why), nullptr);
    EXPECT_NE(why.find("not a module"), std::string::npos) << why;
}

}  // namespace
}  // namespace vardane::test
