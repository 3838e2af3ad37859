// What SendCommand puts on the wire and what it logs.
#include "net/send_command.h"

#include <gtest/gtest.h>

#include "tests/net/net_test_util.h"
#include "tests/support/scripted_server.h"

namespace vardane::test {
namespace {

class SendCommandTest : public ::testing::Test {
  protected:
    SendCommandTest() : server_([](ScriptedConnection& c) { wire_ = c.ReadToClose(); }) {}

    void SetUp() override {
        wire_.clear();
        CreateSockets(set, 1);
        ConnectSocket(set, slotControl, "127.0.0.1", server_.Port(), "127.0.0.1", server_.Port());
        ASSERT_TRUE(NextEvents(set, slotControl).lNetworkEvents & FD_CONNECT);
    }

    // Closes the connection and returns everything the peer received.
    std::string Wire() {
        CloseSockets(set, 1);
        server_.WaitForHandlers(1);
        server_.Stop();
        return wire_;
    }

    CConnectionSet set;
    RecordingOwner owner;

  private:
    static inline std::string wire_;
    ScriptedServer server_;
};

TEST_F(SendCommandTest, PasswordIsSentAsIsAndLoggedMasked) {
    SendCommand(set, owner, "PASS s3cret", "s3cret");
    EXPECT_EQ(Wire(), "PASS s3cret\r\n");
    EXPECT_EQ(owner.Log(),
              (std::vector<std::pair<LogKind, std::string>>{{LogKind::Sent, "PASS ******"}}));
}

TEST_F(SendCommandTest, EachLineEndsInCrLfAndEmptyLinesAreNotLogged) {
    SendCommand(set, owner, "USER a\r\nPASS b", "");
    SendCommand(set, owner, "GET / HTTP/1.1\r\nHost: h:80\r\n\r\n", "");
    EXPECT_EQ(Wire(), "USER a\r\nPASS b\r\nGET / HTTP/1.1\r\nHost: h:80\r\n\r\n");
    EXPECT_EQ(owner.Lines(LogKind::Sent),
              (std::vector<std::string>{"USER a", "PASS b", "GET / HTTP/1.1", "Host: h:80"}));
}

TEST_F(SendCommandTest, CredentialHeadersAreLoggedMasked) {
    SendCommand(set, owner,
                "GET http://h/ HTTP/1.1\r\nCookie: sid=42\r\n"
                "Proxy-Authorization: Basic dTpw\r\n\r\n",
                "");
    EXPECT_EQ(Wire(),
              "GET http://h/ HTTP/1.1\r\nCookie: sid=42\r\nProxy-Authorization: Basic "
              "dTpw\r\n\r\n");
    EXPECT_EQ(owner.Lines(LogKind::Sent),
              (std::vector<std::string>{"GET http://h/ HTTP/1.1", "Cookie: ******",
                                        "Proxy-Authorization: ******"}));
}

TEST_F(SendCommandTest, NothingWhenEmptyStoppedOrWithoutSocket) {
    SendCommand(set, owner, "", "");
    owner.stopped = true;
    SendCommand(set, owner, "QUIT", "");
    owner.stopped = false;
    CConnectionSet empty;
    SendCommand(empty, owner, "QUIT", "");
    EXPECT_EQ(Wire(), "");
    EXPECT_TRUE(owner.Log().empty());
}

}  // namespace
}  // namespace vardane::test
