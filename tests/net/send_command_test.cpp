// What SendCommand puts on the wire and what it logs. Its masking is checked
// where secrets are sent: the FTP password (ftp_worker_test.cpp) and the
// cookie (http_scripted_test.cpp); which headers count is in
// proxy_text_test.cpp.
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
        ASSERT_TRUE(NextEvents(set, slotControl).NetworkEvents & kFdConnect);
    }

    // Closes the connection and returns everything the peer received.
    std::string Wire() {
        CloseSockets(set, 1);
        server_.WaitForHandlers(1);
        server_.Stop();
        return wire_;
    }

    ConnectionSet set;
    RecordingOwner owner;

  private:
    static inline std::string wire_;
    ScriptedServer server_;
};

TEST_F(SendCommandTest, EachLineEndsInCrLfAndEmptyLinesAreNotLogged) {
    SendCommand(set, owner, "USER a\r\nPASS b", "");
    SendCommand(set, owner, "GET / HTTP/1.1\r\nHost: h:80\r\n\r\n", "");
    EXPECT_EQ(Wire(), "USER a\r\nPASS b\r\nGET / HTTP/1.1\r\nHost: h:80\r\n\r\n");
    EXPECT_EQ(owner.Lines(LogKind::Sent),
              (std::vector<std::string>{"USER a", "PASS b", "GET / HTTP/1.1", "Host: h:80"}));
}

TEST_F(SendCommandTest, NothingWhenEmptyStoppedOrWithoutSocket) {
    SendCommand(set, owner, "", "");
    owner.stopped = true;
    SendCommand(set, owner, "QUIT", "");
    owner.stopped = false;
    ConnectionSet empty;
    SendCommand(empty, owner, "QUIT", "");
    EXPECT_EQ(Wire(), "");
    EXPECT_TRUE(owner.Log().empty());
}

}  // namespace
}  // namespace vardane::test
