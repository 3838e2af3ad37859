// One process per data root: the lock, the socket and the frames over it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <thread>

#include "app/single_instance.h"
#include "tests/support/temp_dir.h"

namespace vardane::test {
namespace {

TEST(SingleInstanceTest, SecondOwnerIsRefusedUntilTheFirstGoesAway) {
    TempDir dir;
    auto first = InstanceLock::TryAcquire(dir.Path());
    ASSERT_TRUE(first);
    EXPECT_GE(first->ListenFd(), 0);
    EXPECT_FALSE(InstanceLock::TryAcquire(dir.Path()));
    first.reset();
    auto again = InstanceLock::TryAcquire(dir.Path());
    EXPECT_TRUE(again) << "a released (or crashed) owner leaves nothing that blocks";
}

TEST(SingleInstanceTest, FramesTravelBothWaysOverTheSocket) {
    // A long data root exceeds sockaddr_un and is reached through its folder.
    TempDir base;
    std::string deep = base.MakeDir(std::string(60, 'a') + "/" + std::string(60, 'b'));
    for (const std::string& root : {base.Path(), deep}) {
        auto owner = InstanceLock::TryAcquire(root);
        ASSERT_TRUE(owner);
        std::thread client([&] {
            int fd = ConnectToInstance(root);
            ASSERT_GE(fd, 0);
            EXPECT_TRUE(SendFrame(fd, 'A', "list"));
            EXPECT_TRUE(SendFrame(fd, 'A', std::string(100000, 'x')));
            char type = 0;
            std::string payload;
            EXPECT_TRUE(ReadFrame(fd, type, payload));
            EXPECT_EQ('X', type);
            EXPECT_EQ("0", payload);
            close(fd);
        });
        int conn = -1;
        while (conn < 0) {
            conn = owner->Accept();
            if (conn < 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        }
        // The owner's connections do not block; this test reads as a client
        // would, waiting for each frame.
        fcntl(conn, F_SETFL, fcntl(conn, F_GETFL) & ~O_NONBLOCK);
        char type = 0;
        std::string payload;
        ASSERT_TRUE(ReadFrame(conn, type, payload));
        EXPECT_EQ('A', type);
        EXPECT_EQ("list", payload);
        ASSERT_TRUE(ReadFrame(conn, type, payload));
        EXPECT_EQ(100000u, payload.size());
        EXPECT_TRUE(SendFrame(conn, 'X', "0"));
        client.join();
        EXPECT_FALSE(ReadFrame(conn, type, payload)) << "the client closed";
        close(conn);
    }
}

// Frames arrive in any pieces; the cap counts every byte and a frame that
// announces more than is left is refused before its bytes come.
TEST(SingleInstanceTest, FrameReaderTakesPiecesAndKeepsItsCap) {
    int pair[2];
    ASSERT_EQ(0, socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, pair));
    FrameReader reader(100);
    const std::string bytes = EncodeFrame('A', "list") + EncodeFrame('E', "");
    char type = 0;
    std::string payload, types;
    for (char byte : bytes) {
        ASSERT_EQ(1, write(pair[1], &byte, 1));
        ASSERT_EQ(FrameReader::Status::Open, reader.ReadFrom(pair[0]));
        while (reader.Next(type, payload)) {
            types += type + payload;
        }
    }
    EXPECT_EQ("AlistE", types);
    EXPECT_EQ(FrameReader::Status::Open, reader.ReadFrom(pair[0])) << "nothing there yet";

    const std::string big = EncodeFrame('A', std::string(200, 'x')).substr(0, 5);
    ASSERT_EQ(5, write(pair[1], big.data(), big.size()));
    EXPECT_EQ(FrameReader::Status::TooLarge, reader.ReadFrom(pair[0]));
    close(pair[1]);
    FrameReader fresh(1000);
    EXPECT_EQ(FrameReader::Status::Closed, fresh.ReadFrom(pair[0]));
    close(pair[0]);
}

TEST(SingleInstanceTest, NobodyListeningGivesNoConnection) {
    TempDir dir;
    EXPECT_EQ(-1, ConnectToInstance(dir.Path(), 100));
}

}  // namespace
}  // namespace vardane::test
