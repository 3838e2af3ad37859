// The pure helpers of the proxy handshakes and the log masking.
#include "net/proxy_text.h"

#include <gtest/gtest.h>

#include "tests/net/net_test_util.h"

namespace vardane {
namespace {

using test::Bytes;

TEST(Base64, PadsShortGroupsAndHandlesAllBytes) {
    EXPECT_EQ(Base64Encode(""), "");
    EXPECT_EQ(Base64Encode("a"), "YQ==");
    EXPECT_EQ(Base64Encode("ab"), "YWI=");
    EXPECT_EQ(Base64Encode("abc"), "YWJj");
    EXPECT_EQ(Base64Encode(Bytes({0xFB, 0xFF, 0xBF})), "+/+/");
    // Text is sent as its UTF-8 bytes.
    EXPECT_EQ(Base64Encode("\xC3\xA9"), "w6k=");
}

TEST(FindHeaderEndTest, OffsetPastTheEmptyLineOrZero) {
    const char reply[] = "HTTP/1.1 200 OK\r\n\r\nBODY";
    EXPECT_EQ(FindHeaderEnd(reply, sizeof(reply) - 1), 19u);
    EXPECT_EQ(FindHeaderEnd(reply, 18), 0u);  // the last byte of the marker is cut off
    EXPECT_EQ(FindHeaderEnd("\r\n\r\n", 4), 4u);
    EXPECT_EQ(FindHeaderEnd("abc", 3), 0u);
}

TEST(ReplyStatusTest, ThreeCharactersAfterTheFirstBlank) {
    EXPECT_EQ(ReplyStatus("HTTP/1.0 200 Connection established\r\n"), "200");
    EXPECT_EQ(ReplyStatus("http/1.1 407 Proxy Authentication Required"), "407");
    EXPECT_EQ(ReplyStatus("HTTP/1.1 20"), "20");
    EXPECT_EQ(ReplyStatus("HTTP"), "");
    EXPECT_EQ(ReplyStatus("SSH-2.0 200"), "");
    EXPECT_EQ(ReplyStatus(""), "");
}

TEST(MaskCredentialsTest, HidesHeaderValuesOnly) {
    EXPECT_EQ(MaskCredentials("Proxy-Authorization: Basic dTpw"), "Proxy-Authorization: ******");
    EXPECT_EQ(MaskCredentials("proxy-authorization:Basic dTpw"), "proxy-authorization:******");
    EXPECT_EQ(MaskCredentials("Cookie: a=1; b=2"), "Cookie: ******");
    EXPECT_EQ(MaskCredentials("Authorization: Basic x"), "Authorization: ******");
    EXPECT_EQ(MaskCredentials("Host: 127.0.0.1:80"), "Host: 127.0.0.1:80");
    EXPECT_EQ(MaskCredentials("Set-Cookie-Policy: x"), "Set-Cookie-Policy: x");
}

// The request bytes themselves are checked on the wire (proxy_test.cpp);
// here the field lengths that do not fit in their one length byte.
TEST(SocksRequests, CredentialsLongerThanTheirLengthByteAreRefused) {
    EXPECT_EQ(Socks5Credentials("", ""), Bytes({1, 0, 0}));
    EXPECT_EQ(Socks5Credentials(std::string(255, 'u'), "p")->size(), 259u);
    EXPECT_FALSE(Socks5Credentials(std::string(256, 'u'), "p").has_value());
    EXPECT_FALSE(Socks5Credentials("u", std::string(300, 'p')).has_value());
}

TEST(SocksRequests, ReplyLengthFollowsTheAddressType) {
    EXPECT_EQ(Socks5ReplyLength(Bytes({5, 0, 0, 1}).data(), 4), 10u);
    EXPECT_EQ(Socks5ReplyLength(Bytes({5, 0, 0, 4}).data(), 4), 22u);
    EXPECT_EQ(Socks5ReplyLength(Bytes({5, 0, 0, 3, 9}).data(), 5), 16u);
    EXPECT_EQ(Socks5ReplyLength(Bytes({5, 0}).data(), 2), 10u);
}

}  // namespace
}  // namespace vardane
