// Cookies from a cookies.txt file: host, path, expiry and secure rules.
#include <gtest/gtest.h>

#include "engine/cookies.h"

namespace vardane {
namespace {

const char* kFile =
    "# Netscape HTTP Cookie File\n"
    ".example.com\tTRUE\t/\tFALSE\t0\tall\t1\n"
    "example.com\tFALSE\t/dl\tFALSE\t4000000000\tdl\t2\r\n"
    "example.com\tFALSE\t/dl/deep\tFALSE\t4000000000\tdeep\t3\n"
    "example.com\tFALSE\t/\tFALSE\t1000\told\t4\n"
    "example.com\tFALSE\t/\tTRUE\t0\tsecure\t5\n"
    "#HttpOnly_example.com\tFALSE\t/\tFALSE\t0\thttponly\t6\n"
    "other.org\tFALSE\t/\tFALSE\t0\tother\t7\n"
    "malformed line\n";

TEST(Cookies, MatchingCookiesLongestPathFirst) {
    EXPECT_EQ(CookiesFor(kFile, "example.com", "/dl/deep/file.zip?x=1", 2000),
              "deep=3; dl=2; all=1; httponly=6");
    EXPECT_EQ(CookiesFor(kFile, "EXAMPLE.com", "/dlx/file.zip", 2000), "all=1; httponly=6");
}

TEST(Cookies, DomainRules) {
    EXPECT_EQ(CookiesFor(kFile, "www.example.com", "/dl/a", 2000), "all=1");
    EXPECT_EQ(CookiesFor(kFile, "badexample.com", "/", 2000), "");
    EXPECT_EQ(CookiesFor(kFile, "other.org", "/", 500), "other=7");
    EXPECT_EQ(CookiesFor(kFile, "example.com", "/", 500), "all=1; old=4; httponly=6");
    EXPECT_EQ(CookiesFromFile("/nonexistent/cookies.txt", "example.com", "/", 0), "");
}

TEST(Cookies, ControlCharactersNeverReachTheHeader) {
    const char* file =
        "example.com\tFALSE\t/\tFALSE\t0\tcr\tva\rlue\r\r\n"
        "example.com\tFALSE\t/\tFALSE\t0\tn\x01\t1\n"
        "example.com\tFALSE\t/\tFALSE\t0\tok\t2\r\n";
    EXPECT_EQ(CookiesFor(file, "example.com", "/", 0), "ok=2");
}

}  // namespace
}  // namespace vardane
