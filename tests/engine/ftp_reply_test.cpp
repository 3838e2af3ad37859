#include "engine/ftp_reply.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

namespace vardane {
namespace {

TEST(FtpReply, CodeIsTextBeforeFirstBlank) {
    EXPECT_EQ(ReplyCode("220 Service ready"), "220");
    EXPECT_EQ(ReplyCode("331 Password required for bob"), "331");
    // Continuation lines of a multi-line reply match no code.
    EXPECT_EQ(ReplyCode("220-Welcome to the server"), "220-Welcome");
    EXPECT_EQ(ReplyCode("220-"), "");
    EXPECT_EQ(ReplyCode("   indented text"), "");
    EXPECT_EQ(ReplyCode(""), "");
    EXPECT_EQ(ReplyCode("230"), "");
}

TEST(FtpReply, SizeReplyIsSixtyFourBit) {
    EXPECT_EQ(ParseSizeReply("213 1048576"), 1048576);
    EXPECT_EQ(ParseSizeReply("213 5000000000"), int64_t{5000000000});
    EXPECT_EQ(ParseSizeReply("213 "), 0);
    EXPECT_EQ(ParseSizeReply("213"), 0);
    EXPECT_EQ(ParseSizeReply("213 abc"), 0);
}

TEST(FtpReply, PasvReplyHostAndPort) {
    PasvReply r = ParsePasvReply("227 Entering Passive Mode (192,168,0,5,19,137).");
    ASSERT_TRUE(r.bFound);
    EXPECT_EQ(r.host, "192.168.0.5");
    EXPECT_EQ(r.port, 19 * 256 + 137);
    EXPECT_EQ(r.port, 5001);

    r = ParsePasvReply("227 Entering Passive Mode (127,0,0,1,4,0)");
    ASSERT_TRUE(r.bFound);
    EXPECT_EQ(r.host, "127.0.0.1");
    EXPECT_EQ(r.port, 1024);
    EXPECT_TRUE(IsValidPort(r.port));
}

TEST(FtpReply, PasvReplyMalformedOrHostile) {
    EXPECT_FALSE(ParsePasvReply("227 Entering Passive Mode").bFound);
    EXPECT_FALSE(ParsePasvReply("227 (1,2,3)").bFound);
    // Only four commas: the host is there, the port numbers are missing.
    PasvReply r = ParsePasvReply("227 (10,0,0,1,");
    EXPECT_TRUE(r.bFound);
    EXPECT_FALSE(IsValidPort(r.port));
    // Numbers that would overflow give an unusable port, never a wrapped one.
    r = ParsePasvReply("227 (1,2,3,4,99999999999999999999,1)");
    EXPECT_TRUE(r.bFound);
    EXPECT_FALSE(IsValidPort(r.port));
    r = ParsePasvReply("227 (1,2,3,4,256,0)");
    EXPECT_FALSE(IsValidPort(r.port));
    r = ParsePasvReply("227 (1,2,3,4,-1,5)");
    EXPECT_FALSE(IsValidPort(r.port));
}

TEST(FtpReply, PortCommandFromLocalAddress) {
    in_addr a{};
    ASSERT_EQ(inet_pton(AF_INET, "10.0.0.7", &a), 1);
    EXPECT_EQ(FormatPortCommand(a, 50000), "PORT 10,0,0,7,195,80");
    ASSERT_EQ(inet_pton(AF_INET, "127.0.0.1", &a), 1);
    EXPECT_EQ(FormatPortCommand(a, 21), "PORT 127,0,0,1,0,21");
    EXPECT_EQ(FormatPortCommand(a, 65535), "PORT 127,0,0,1,255,255");
}

TEST(FtpReply, UserCommandDefaultsToAnonymous) {
    EXPECT_EQ(UserCommand(""), "USER Anonymous");
    EXPECT_EQ(UserCommand("bob"), "USER bob");
}

}  // namespace
}  // namespace vardane
