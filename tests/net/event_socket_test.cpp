// The Winsock event rules on top of poll: connect once, read once per
// receive, close once and only after the queued data, errors as events.
#include "net/event_socket.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <future>
#include <vector>

#include "tests/net/net_test_util.h"
#include "tests/support/ports.h"
#include "tests/support/scripted_server.h"

namespace vardane::test {
namespace {

class EventSocketTest : public ::testing::Test {
  protected:
    void TearDown() override { CloseSockets(set, kConnectionSlots); }

    // Connects slot 0 to port and returns the events of the connect.
    NetworkEvents Connect(int port) {
        CreateSockets(set, 1);
        ConnectSocket(set, slotControl, "127.0.0.1", port, "127.0.0.1", port);
        return NextEvents(set, slotControl);
    }

    std::string ReceiveText() {
        ReceiveBuffer buffer;
        int n = Receive(set, slotControl, buffer);
        return n > 0 ? std::string(buffer.data(), static_cast<size_t>(n)) : std::string();
    }

    ConnectionSet set;
};

TEST_F(EventSocketTest, ConnectIsReportedOnce) {
    ScriptedServer server([](ScriptedConnection& c) { c.WaitForClose(); });
    NetworkEvents events = Connect(server.Port());
    EXPECT_TRUE(events.NetworkEvents & kFdConnect);
    EXPECT_EQ(events.ConnectError, 0);
    EXPECT_TRUE(StaysQuiet(set, slotControl));
}

// A refused port and a host that does not resolve are connect events with
// their error, once.
TEST_F(EventSocketTest, FailedConnectIsAnEventWithItsError) {
    for (auto [host, error] :
         {std::pair{"127.0.0.1", ECONNREFUSED}, std::pair{"", kErrorHostNotFound}}) {
        const int port = FreePort();
        CreateSockets(set, 1);
        ConnectSocket(set, slotControl, host, port, host, port);
        NetworkEvents events = NextEvents(set, slotControl);
        EXPECT_TRUE(events.NetworkEvents & kFdConnect);
        EXPECT_EQ(events.ConnectError, error) << host;
        EXPECT_TRUE(StaysQuiet(set, slotControl));
        CloseSockets(set, 1);
    }
}

// IPv6 first, whatever order the resolver gives; that a refused address
// gives way to the next is shown end to end (ipv6_download_test.cpp).
TEST_F(EventSocketTest, NameResolvesIpv6First) {
    SetTestResolver([](const std::string& host) {
        return host == "dual.test" ? std::vector<std::string>{"127.0.0.1", "::1"}
                                   : std::vector<std::string>{};
    });
    std::vector<sockaddr_storage> found = ResolveAddresses("dual.test", 8080);
    SetTestResolver(nullptr);
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(AddressText(found[0]), "::1");
    EXPECT_EQ(AddressText(found[1]), "127.0.0.1");
    EXPECT_EQ(AddressPort(found[1]), 8080);
}

TEST_F(EventSocketTest, Ipv6LiteralConnectsOnAnIpv6SocketKeepingItsReceiveBound) {
    int listener = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_storage bound{};
    auto& v6 = reinterpret_cast<sockaddr_in6&>(bound);
    v6.sin6_family = AF_INET6;
    v6.sin6_addr = in6addr_loopback;
    socklen_t length = sizeof(sockaddr_in6);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&bound), length), 0);
    ASSERT_EQ(::listen(listener, 1), 0);
    ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&bound), &length), 0);
    CreateSockets(set, 1);
    // The IPv4 socket made first gives way to an IPv6 one: the receive
    // buffer bound must come along.
    BoundReceiveBuffer(set[slotControl], 8192);
    ConnectSocket(set, slotControl, "::1", AddressPort(bound), "::1", AddressPort(bound));
    NetworkEvents events = NextEvents(set, slotControl);
    int accepted = ::accept(listener, nullptr, nullptr);
    EXPECT_EQ(events.ConnectError, 0);
    int buffer = 0;
    socklen_t size = sizeof buffer;
    ::getsockopt(set[slotControl].Socket, SOL_SOCKET, SO_RCVBUF, &buffer, &size);
    EXPECT_LE(buffer, 2 * 8192) << "the kernel doubles what was asked";
    sockaddr_storage peer{}, local{};
    EXPECT_TRUE(PeerAddress(set[slotControl].Socket, peer));
    EXPECT_EQ(AddressText(peer), "::1");
    EXPECT_TRUE(LocalAddress(set, slotControl, local));
    EXPECT_EQ(AddressText(local), "::1");
    ASSERT_GT(accepted, 0);
    ASSERT_EQ(::send(accepted, "six", 3, 0), 3);
    EXPECT_EQ(NextEvents(set, slotControl).NetworkEvents & kFdRead, kFdRead);
    EXPECT_EQ(ReceiveText(), "six");
    ::close(accepted);
    ::close(listener);
}

TEST_F(EventSocketTest, IgnoredReadEventDoesNotWakeTheWaitAgain) {
    std::promise<void> more;
    ScriptedServer server([&](ScriptedConnection& c) {
        c.Write("first");
        more.get_future().wait();
        c.Write("second");
        c.WaitForClose();
    });
    ASSERT_TRUE(Connect(server.Port()).NetworkEvents & kFdConnect);
    EXPECT_TRUE(NextEvents(set, slotControl).NetworkEvents & kFdRead);
    // The owner does not receive: the queued bytes cause no further event.
    EXPECT_TRUE(StaysQuiet(set, slotControl));
    EXPECT_TRUE(StaysQuiet(set, slotControl));
    EXPECT_EQ(ReceiveText(), "first");
    more.set_value();
    EXPECT_TRUE(NextEvents(set, slotControl).NetworkEvents & kFdRead);
    EXPECT_EQ(ReceiveText(), "second");
}

TEST_F(EventSocketTest, DataLeftAfterAReceiveIsReportedAgain) {
    ScriptedServer server([](ScriptedConnection& c) {
        c.Write(std::string(10000, 'x'));
        c.WaitForClose();
    });
    ASSERT_TRUE(Connect(server.Port()).NetworkEvents & kFdConnect);
    size_t total = 0;
    while (total < 10000) {
        ASSERT_TRUE(NextEvents(set, slotControl).NetworkEvents & kFdRead) << total;
        total += ReceiveText().size();
    }
    EXPECT_EQ(total, 10000u);
    EXPECT_TRUE(StaysQuiet(set, slotControl));
}

TEST_F(EventSocketTest, CloseComesOnceAndAfterTheQueuedData) {
    ScriptedServer server([](ScriptedConnection& c) { c.Write("tail"); });
    ASSERT_TRUE(Connect(server.Port()).NetworkEvents & kFdConnect);
    ASSERT_TRUE(server.WaitForConnections(1));
    NetworkEvents events = NextEvents(set, slotControl);
    EXPECT_EQ(events.NetworkEvents & (kFdRead | kFdClose), kFdRead);
    EXPECT_EQ(ReceiveText(), "tail");
    events = NextEvents(set, slotControl);
    EXPECT_TRUE(events.NetworkEvents & kFdClose);
    EXPECT_EQ(events.CloseError, 0);
    ReceiveBuffer buffer;
    EXPECT_EQ(Receive(set, slotControl, buffer), 0);
    EXPECT_TRUE(StaysQuiet(set, slotControl));
}

TEST_F(EventSocketTest, ResetIsACloseWithAnError) {
    ScriptedServer server([](ScriptedConnection& c) {
        c.ReadLine();
        c.Reset();
    });
    ASSERT_TRUE(Connect(server.Port()).NetworkEvents & kFdConnect);
    SendBytes(set[0].Socket, "go\r\n", 4);
    NetworkEvents events = NextEvents(set, slotControl);
    EXPECT_TRUE(events.NetworkEvents & kFdClose);
    EXPECT_EQ(events.CloseError, ECONNRESET);
    EXPECT_TRUE(StaysQuiet(set, slotControl));
}

TEST_F(EventSocketTest, ResetWhileAReadEventIsIgnoredIsStillReported) {
    std::promise<void> readSeen;
    ScriptedServer server([&](ScriptedConnection& c) {
        c.Write("unread");
        readSeen.get_future().wait();
        c.Reset();
    });
    ASSERT_TRUE(Connect(server.Port()).NetworkEvents & kFdConnect);
    EXPECT_TRUE(NextEvents(set, slotControl).NetworkEvents & kFdRead);
    readSeen.set_value();
    NetworkEvents events = NextEvents(set, slotControl);
    EXPECT_TRUE(events.NetworkEvents & kFdClose);
    EXPECT_EQ(events.CloseError, ECONNRESET);
    EXPECT_TRUE(StaysQuiet(set, slotControl));
}

TEST_F(EventSocketTest, ClosedSlotsStaySilentAndReportNoEvents) {
    ScriptedServer server([](ScriptedConnection& c) { c.Write("x"); });
    ASSERT_TRUE(Connect(server.Port()).NetworkEvents & kFdConnect);
    CloseSockets(set, 1);
    EXPECT_EQ(set[0].Socket, 0);
    EXPECT_EQ(WaitForEvents(set, 3, 50), kWaitTimeout);
    NetworkEvents events;
    EXPECT_FALSE(EnumNetworkEvents(set, slotControl, events));
}

TEST_F(EventSocketTest, ActiveModeListenAcceptAndAdopt) {
    CreateSockets(set, 3);
    CloseSocket(set, slotListen);
    ASSERT_TRUE(CreateSocket(set, slotListen));
    RearmSocket(set, slotListen, kMaskListening);
    sockaddr_in address{};
    ASSERT_TRUE(ResolveAddress("127.0.0.1", 0, address));
    ASSERT_TRUE(BindSocket(set, slotListen, address));
    ASSERT_TRUE(LocalAddress(set, slotListen, address));
    ASSERT_TRUE(ListenSocket(set, slotListen, 1));
    int port = ntohs(address.sin_port);
    ASSERT_GT(port, 0);

    int client = ConnectLoopback(port);
    ASSERT_GE(client, 0);
    NetworkEvents events = NextEvents(set, slotListen);
    EXPECT_TRUE(events.NetworkEvents & kFdAccept);
    EXPECT_EQ(events.AcceptError, 0);
    int accepted = AcceptSocket(set, slotListen);
    ASSERT_GT(accepted, 0);
    AdoptSocket(set, slotData, accepted);
    RearmSocket(set, slotData, kMaskAccepted);
    CloseSocket(set, slotListen);

    ::send(client, "listing", 7, MSG_NOSIGNAL);
    ::close(client);
    events = NextEvents(set, slotData);
    EXPECT_TRUE(events.NetworkEvents & kFdRead);
    ReceiveBuffer buffer;
    ASSERT_EQ(Receive(set, slotData, buffer), 7);
    EXPECT_STREQ(buffer.data(), "listing");
    EXPECT_TRUE(NextEvents(set, slotData).NetworkEvents & kFdClose);
}

TEST_F(EventSocketTest, WaitReturnsTheLowestSignalledSlot) {
    ScriptedServer server([](ScriptedConnection& c) {
        c.Write("x");
        c.WaitForClose();
    });
    CreateSockets(set, 3);
    ConnectSocket(set, slotData, "127.0.0.1", server.Port(), "127.0.0.1", server.Port());
    ConnectSocket(set, slotControl, "127.0.0.1", server.Port(), "127.0.0.1", server.Port());
    ASSERT_TRUE(server.WaitForConnections(2));
    // Both connects complete; the wait names slot 0 until its events are read.
    int first = kWaitTimeout;
    for (int i = 0; i < 20 && first == kWaitTimeout; ++i) {
        first = WaitForEvents(set);
    }
    ASSERT_GE(first, 0);
    EXPECT_TRUE(NextEvents(set, slotControl).NetworkEvents & kFdConnect);
    EXPECT_TRUE(NextEvents(set, slotData).NetworkEvents & kFdConnect);
}

TEST_F(EventSocketTest, ReceiveTerminatesTheTextAndReportsNothingAsMinusOne) {
    ScriptedServer server([](ScriptedConnection& c) {
        c.Write("220 ready\r\n");
        c.WaitForClose();
    });
    ASSERT_TRUE(Connect(server.Port()).NetworkEvents & kFdConnect);
    ASSERT_TRUE(NextEvents(set, slotControl).NetworkEvents & kFdRead);
    ReceiveBuffer buffer;
    buffer.fill('z');
    ASSERT_EQ(Receive(set, slotControl, buffer), 11);
    EXPECT_STREQ(buffer.data(), "220 ready\r\n");
    EXPECT_EQ(Receive(set, slotControl, buffer), -1);
    EXPECT_EQ(ReceiveBytes(set, slotControl, buffer.data(), 0), -1);
}

}  // namespace
}  // namespace vardane::test
