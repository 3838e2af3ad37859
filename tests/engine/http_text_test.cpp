// HTTP protocol text: the request on the wire and the reply header rules.
#include <gtest/gtest.h>

#include "engine/http_text.h"
#include "engine/task_headers.h"
#include "task/url.h"

namespace vardane {
namespace {

TEST(BuildHttpRequest, RangedRequestOfAWorkerHasTheDesignedLinesInOrder) {
    HttpRequest q;
    q.RequestPath = "/pub/file.zip";
    q.Host = "HOST";
    q.Port = 80;
    q.UserAgent = "UA";
    q.RangeStart = 250000;
    q.RangeEnd = 499999;
    EXPECT_EQ(BuildHttpRequest(q),
              "GET /pub/file.zip HTTP/1.1\r\nHost: HOST:80\r\nAccept: */*\r\nUser-Agent: UA\r\n"
              "Pragma: no-cache\r\nCache-Control: no-cache\r\nRange: bytes=250000-499999\r\n"
              "Connection: close\r\n\r\n");
    // A block at the start of the file still names its end, and the version
    // of the bytes already on disk follows the range.
    q.RangeStart = 0;
    q.RangeEnd = 99;
    q.IfRange = "\"v1\"";
    EXPECT_NE(BuildHttpRequest(q).find("\r\nRange: bytes=0-99\r\nIf-Range: \"v1\"\r\n"),
              std::string::npos);
    q.RangeEnd = -1;  // no range, no condition
    EXPECT_EQ(BuildHttpRequest(q).find("If-Range"), std::string::npos);
}

TEST(BuildHttpRequest, FirstRequestHasNoRangeAndOptionalHeadersAppearWhenSet) {
    HttpRequest q;
    q.RequestPath = "/a.zip";
    q.Url = "http://h:8080/a.zip";
    q.Host = "h";
    q.Port = 8080;
    q.Referer = "http://h";
    q.Cookie = "a=1; b=2";
    q.ViaGetProxy = true;
    q.ProxyCredentials = "dTpw";
    std::string text = BuildHttpRequest(q);
    EXPECT_EQ(text.find("GET http://h:8080/a.zip HTTP/1.1\r\nHost: h:8080\r\n"), 0u);
    EXPECT_NE(text.find("Referer: http://h\r\nCookie: a=1; b=2\r\n"), std::string::npos);
    EXPECT_EQ(text.find("Range:"), std::string::npos);
    EXPECT_EQ(text.find("User-Agent"), std::string::npos);
    EXPECT_NE(text.find("Proxy-Authorization: Basic dTpw\r\nConnection: close\r\n\r\n"),
              std::string::npos);
}

TEST(HttpReplyText, StatusAndHeaderValues) {
    EXPECT_EQ(StatusCode("HTTP/1.1 206 Partial Content"), "206");
    EXPECT_EQ(StatusCode("http/1.0 404 Not Found"), "404");
    EXPECT_EQ(StatusCode("Content-Length: 5"), "");
    EXPECT_EQ(StatusCode("HTTP/1.1 2000 OK"), "");
    EXPECT_EQ(StatusCode("HTTP/1.1 20 OK"), "");
    EXPECT_EQ(HeaderValue("content-length: 10", "Content-Length"), "10");
    EXPECT_EQ(HeaderValue("Location: http://a/b c.zip", "Location"), "http://a/bc.zip");
    EXPECT_EQ(HeaderValue("X-Location: y", "Location"), "");
    EXPECT_EQ(HeaderField("Content-Range:  bytes 0-9/10 ", "Content-Range"), "bytes 0-9/10");
    EXPECT_EQ(HeaderField("Content-Ranges: x", "Content-Range"), "");
    std::string h = "HTTP/1.1 200 OK\r\nA: 1\r\n\r\nbody";
    EXPECT_EQ(HeaderEnd(h.data(), h.size()), h.size() - 4);
    EXPECT_EQ(HeaderEnd(h.data(), 10), 0u);
    EXPECT_EQ(HeaderLines("a\r\n\r\nb\r\n"), (std::vector<std::string>{"a", "b"}));
}

TEST(HttpReplyText, ContentRangeIsParsedStrictlyWith64BitValues) {
    ContentRange r;
    ASSERT_TRUE(ParseContentRange("bytes 5000000000-5000000099/6000000000", r));
    EXPECT_EQ(r.First, 5000000000LL);
    EXPECT_EQ(r.Last, 5000000099LL);
    EXPECT_EQ(r.Total, 6000000000LL);
    ASSERT_TRUE(ParseContentRange("bytes 0-0/*", r));
    EXPECT_EQ(r.Total, -1);
    for (const char* bad : {"bytes */100", "bytes 10-5/100", "bytes 0-99/50", "items 0-1/2", "",
                            "bytes -1-5/9", "bytes 0-99999999999999999999/1"}) {
        EXPECT_FALSE(ParseContentRange(bad, r)) << bad;
    }
}

TEST(ResolveLocation, RelativeTargetsResolveAgainstTheCurrentAddress) {
    const std::string cur = "http://h:81/dir/sub/get.php?id=3";
    EXPECT_EQ(ResolveLocation(cur, "http://other/x.zip"), "http://other/x.zip");
    EXPECT_EQ(ResolveLocation(cur, "ftp://f/x.zip"), "ftp://f/x.zip");
    EXPECT_EQ(ResolveLocation(cur, "//cdn/x.zip"), "http://cdn/x.zip");
    EXPECT_EQ(ResolveLocation(cur, "/files/x.zip"), "http://h:81/files/x.zip");
    EXPECT_EQ(ResolveLocation(cur, "x.zip"), "http://h:81/dir/sub/x.zip");
    EXPECT_EQ(ResolveLocation(cur, "../x.zip?a=1"), "http://h:81/dir/x.zip?a=1");
    EXPECT_EQ(ResolveLocation(cur, "./../../../x.zip"), "http://h:81/x.zip");
    EXPECT_EQ(ResolveLocation(cur, "?id=4"), "http://h:81/dir/sub/get.php?id=4");
    EXPECT_EQ(ResolveLocation("http://h", "a.zip"), "http://h/a.zip");
    EXPECT_EQ(ResolveLocation("not a url", "a.zip"), "");
}

TEST(MaskHeaderLine, CredentialsNeverReachTheLog) {
    EXPECT_EQ(MaskHeaderLine("Cookie: sid=secret"), "Cookie: ******");
    EXPECT_EQ(MaskHeaderLine("set-cookie: sid=secret; Path=/"), "set-cookie: ******");
    EXPECT_EQ(MaskHeaderLine("Proxy-Authorization: Basic dTpw"), "Proxy-Authorization: ******");
    EXPECT_EQ(MaskHeaderLine("Content-Length: 5"), "Content-Length: 5");
    EXPECT_EQ(MaskHeaderLine("Location: ftp://u:pw@h/x.zip"), "Location: ftp://u:******@h/x.zip");
}

// A task's own values: agent and referer on every request; the cookie only
// to the host the task was made for, in clear text only when that was.
TEST(TaskHeaders, CookieGoesOnlyToTheTasksOwnHost) {
    const RequestHeaders own{"sid=s3cret", "http://page.example/list", "Browser/9"};
    struct Case {
        const char* base;
        const char* protocol;
        const char* host;
        bool cookie;
    } cases[] = {
        {"http://127.0.0.1:8080/a.zip", "http://", "127.0.0.1", true},
        {"http://127.0.0.1:8080/a.zip", "https://", "127.0.0.1", true},
        {"http://127.0.0.1/a.zip", "http://", "localhost", false},
        {"http://127.0.0.1/a.zip", "http://", "::1", false},
        {"http://u:p@Files.Example/a.zip", "http://", "files.example", true},
        {"https://files.example/a.zip", "http://", "files.example", false},
        {"https://files.example/a.zip", "https://", "cdn.example", false},
        {"ftp://files.example/a.zip", "http://", "files.example", false},
    };
    for (const Case& c : cases) {
        HttpRequest q;
        q.UserAgent = "Configured";
        q.Cookie = "from=file";
        ApplyTaskHeaders(own, c.base, c.protocol, c.host, q);
        EXPECT_EQ(q.Cookie, c.cookie ? "sid=s3cret" : "from=file") << c.base << " " << c.host;
        EXPECT_EQ(q.UserAgent, "Browser/9");
        EXPECT_EQ(q.Referer, "http://page.example/list");
    }
    // A value that would add a line of its own is not sent.
    HttpRequest q;
    q.UserAgent = "Configured";
    ApplyTaskHeaders({"a=1\r\nX: y", "http://r/\n", "UA\rX"}, "http://h/a.zip", "http://", "h", q);
    EXPECT_EQ(BuildHttpRequest(q).find("\nX"), std::string::npos);
    EXPECT_EQ(q.UserAgent, "Configured");
}

TEST(ChunkDecoder, DecodesAcrossArbitrarySplitsAndFindsTheEnd) {
    const std::string wire =
        "4\r\nWiki\r\n6;ext=1\r\npedia \r\nE\r\nin \r\n\r\nchunks.\r\n0\r\nX: y\r\n\r\n";
    for (size_t step = 1; step <= wire.size(); ++step) {
        ChunkDecoder dec;
        std::string out;
        for (size_t at = 0; at < wire.size(); at += step) {
            std::string piece = wire.substr(at, step);
            size_t n = dec.Decode(piece.data(), piece.size());
            out += piece.substr(0, n);
        }
        EXPECT_EQ(out, "Wikipedia in \r\n\r\nchunks.") << step;
        EXPECT_TRUE(dec.Done()) << step;
    }
    ChunkDecoder bad;
    std::string junk = "zz\r\n";
    bad.Decode(junk.data(), junk.size());
    EXPECT_TRUE(bad.Failed());
}

}  // namespace
}  // namespace vardane
