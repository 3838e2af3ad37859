#include "engine/ftp_reply.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vardane {
namespace {

// The well-formed PASV reply, the PORT and USER commands are on the wire of
// every FTP download in ftp_worker_test.cpp; here the edges those never send.
TEST(FtpReply, CodeIsTextBeforeFirstBlank) {
    EXPECT_EQ(ReplyCode("220 Service ready"), "220");
    EXPECT_EQ(ReplyCode("331 Password required for bob"), "331");
    // Continuation lines of a multi-line reply match no code.
    EXPECT_EQ(ReplyCode("220-Welcome to the server"), "220-Welcome");
    EXPECT_EQ(ReplyCode("220-"), "");
    EXPECT_EQ(ReplyCode("   indented text"), "");
    EXPECT_EQ(ReplyCode(""), "");
    EXPECT_EQ(ReplyCode("230"), "230");
    EXPECT_EQ(ReplyCode("23"), "");
}

TEST(FtpReply, SizeReplyIsSixtyFourBit) {
    EXPECT_EQ(ParseSizeReply("213 1048576"), 1048576);
    EXPECT_EQ(ParseSizeReply("213 5000000000"), int64_t{5000000000});
    EXPECT_EQ(ParseSizeReply("213 "), 0);
    EXPECT_EQ(ParseSizeReply("213"), 0);
    EXPECT_EQ(ParseSizeReply("213 abc"), 0);
    EXPECT_EQ(ParseMdtmReply("213 20261207103000"), "20261207103000");
    EXPECT_EQ(ParseMdtmReply("213 20261207103000.123 "), "20261207103000.123");
    for (const char* odd : {"213", "213 2026120710300", "213 20261207103000x", "213 \r1"}) {
        EXPECT_EQ(ParseMdtmReply(odd), "") << odd;
    }
}

TEST(FtpReply, PasvReplyMalformedOrHostile) {
    EXPECT_FALSE(ParsePasvReply("227 Entering Passive Mode").Found);
    EXPECT_FALSE(ParsePasvReply("227 (1,2,3)").Found);
    // Only four commas: the host is there, the port numbers are missing.
    PasvReply r = ParsePasvReply("227 (10,0,0,1,");
    EXPECT_TRUE(r.Found);
    EXPECT_FALSE(IsValidPort(r.port));
    // Numbers that would overflow give an unusable port, never a wrapped one.
    r = ParsePasvReply("227 (1,2,3,4,99999999999999999999,1)");
    EXPECT_TRUE(r.Found);
    EXPECT_FALSE(IsValidPort(r.port));
    r = ParsePasvReply("227 (1,2,3,4,256,0)");
    EXPECT_FALSE(IsValidPort(r.port));
    r = ParsePasvReply("227 (1,2,3,4,1,300)");
    EXPECT_FALSE(IsValidPort(r.port));
    r = ParsePasvReply("227 (1,2,3,4,-1,5)");
    EXPECT_FALSE(IsValidPort(r.port));
}

TEST(FtpReply, EpsvReplyNamesOnlyAPort) {
    EXPECT_EQ(ParseEpsvPort("229 Entering Extended Passive Mode (|||6446|)"), 6446);
    EXPECT_EQ(ParseEpsvPort("229 Extended (!!!21!)"), 21);  // any delimiter
    for (const char* bad :
         {"229 Entering Extended Passive Mode", "229 (|||6446)", "229 (||6446|)", "229 (|||64a6|)",
          "229 (||||)", "229 (|||99999999999999999999|)", "229 (|1|::1|6446|)"}) {
        EXPECT_FALSE(IsValidPort(ParseEpsvPort(bad))) << bad;
    }
    EXPECT_FALSE(IsValidPort(ParseEpsvPort("229 (|||70000|)")));
}

// Lines split across receives are joined; only the line that closes a
// multi-line reply (same code, then a blank) is marked as its end.
TEST(FtpReplyReader, JoinsSplitLinesAndFindsTheEndOfMultiLineReplies) {
    FtpReplyReader reader;
    std::vector<FtpReplyReader::Line> lines;
    ASSERT_TRUE(reader.Feed("220-Welcome\r\n 220 not the end\r\n220 rea", lines));
    ASSERT_TRUE(reader.Feed("dy\r\n331 Password\n", lines));
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0].text, "220-Welcome");
    EXPECT_FALSE(lines[0].Last);
    EXPECT_FALSE(lines[1].Last);
    EXPECT_EQ(lines[2].text, "220 ready");
    EXPECT_TRUE(lines[2].Last);
    EXPECT_EQ(lines[3].text, "331 Password");
    EXPECT_TRUE(lines[3].Last);
}

// A reply that never ends (an endless greeting, a line without an end) is
// refused once it passes the bound, however it is cut into receives.
TEST(FtpReplyReader, BoundsEveryReply) {
    FtpReplyReader reader;
    std::vector<FtpReplyReader::Line> lines;
    ASSERT_TRUE(reader.Feed("220-Welcome\r\n", lines));
    bool ok = true;
    for (size_t sent = 0; ok && sent < 2 * FtpReplyReader::kMaxReplyBytes; sent += 10) {
        ok = reader.Feed("220-more\r\n", lines);
    }
    EXPECT_FALSE(ok);
    reader.Reset();
    EXPECT_TRUE(reader.Feed("220 ok\r\n", lines));
    EXPECT_FALSE(reader.Feed(std::string(FtpReplyReader::kMaxReplyBytes + 1, 'x'), lines));
    // Many short replies are fine: the bound is per reply.
    reader.Reset();
    for (size_t sent = 0; sent < 2 * FtpReplyReader::kMaxReplyBytes; sent += 8) {
        ASSERT_TRUE(reader.Feed("200 ok\r\n", lines));
    }
}

}  // namespace
}  // namespace vardane
