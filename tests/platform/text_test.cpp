#include "platform/text.h"

#include <gtest/gtest.h>

#include <limits>

#include "platform/display_text.h"

namespace vardane {
namespace {

TEST(TextToInt, ReadsLikeWtol) {
    EXPECT_EQ(TextToInt("123"), 123);
    EXPECT_EQ(TextToInt("  \t-42abc"), -42);
    EXPECT_EQ(TextToInt("+7"), 7);
    EXPECT_EQ(TextToInt("abc"), 0);
    EXPECT_EQ(TextToInt(""), 0);
    EXPECT_EQ(TextToInt("-"), 0);
    EXPECT_EQ(TextToInt("12 34"), 12);
    EXPECT_EQ(TextToInt("- 5"), 0);
    EXPECT_EQ(TextToInt("5000000000"), 5000000000LL);  // sizes past 2 GiB
}

TEST(TextToInt, SaturatesInsteadOfOverflowing) {
    constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
    constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
    EXPECT_EQ(TextToInt("9223372036854775807"), kMax);
    EXPECT_EQ(TextToInt("9223372036854775808"), kMax);
    EXPECT_EQ(TextToInt("99999999999999999999999"), kMax);
    EXPECT_EQ(TextToInt("-9223372036854775808"), kMin);
    EXPECT_EQ(TextToInt("-9223372036854775809"), kMin);
}

TEST(IntToText, RoundTripsEveryRange) {
    for (int64_t v : {int64_t{0}, int64_t{-1}, int64_t{42}, int64_t{4294967296},
                      std::numeric_limits<int64_t>::min(), std::numeric_limits<int64_t>::max()}) {
        EXPECT_EQ(TextToInt(IntToText(v)), v);
    }
    EXPECT_EQ(IntToText(-305), "-305");
}

TEST(AnsiToWide, KeepsUtf8AndReadsOtherBytesAsLatin1) {
    EXPECT_EQ(AnsiToWide("plain"), "plain");
    EXPECT_EQ(AnsiToWide("caf\xC3\xA9 \xF0\x9F\x98\x80"), "caf\xC3\xA9 \xF0\x9F\x98\x80");
    EXPECT_EQ(AnsiToWide("caf\xE9"), "caf\xC3\xA9");                    // Latin-1 e acute
    EXPECT_EQ(AnsiToWide("\xC3"), "\xC3\x83");                          // truncated sequence
    EXPECT_EQ(AnsiToWide("\xC0\xAF"), "\xC3\x80\xC2\xAF");              // overlong '/'
    EXPECT_EQ(AnsiToWide("\xED\xA0\x80"), "\xC3\xAD\xC2\xA0\xC2\x80");  // surrogate
    EXPECT_EQ(AnsiToWide("\xFF"
                         "A"),
              "\xC3\xBF"
              "A");
    EXPECT_EQ(AnsiToWide(std::string_view("a\0b", 3)), std::string("a\0b", 3));
    EXPECT_EQ(WideToAnsi("caf\xC3\xA9"), "caf\xC3\xA9");
}

TEST(ReplaceCopy, ReplacesLeftToRightWithoutOverlap) {
    EXPECT_EQ(ReplaceCopy("PASS secret", "secret", "******"), "PASS ******");
    EXPECT_EQ(ReplaceCopy("aaaa", "aa", "b"), "bb");
    EXPECT_EQ(ReplaceCopy("aaa", "aa", "a"), "aa");
    EXPECT_EQ(ReplaceCopy("abc", "", "x"), "abc");
    EXPECT_EQ(ReplaceCopy("x", "x", "xx"), "xx");
}

std::vector<std::string> Split(std::string_view text, int expectedCount) {
    std::vector<std::string> lines{"kept"};
    EXPECT_EQ(SplitLines(text, lines), expectedCount);
    EXPECT_EQ(lines.front(), "kept");  // appends, never clears
    lines.erase(lines.begin());
    return lines;
}

TEST(SplitLines, FollowsTheCrLfRule) {
    using V = std::vector<std::string>;
    EXPECT_EQ(Split("one\r\n\r\ntwo", 3), (V{"one", "", "two"}));
    EXPECT_EQ(Split("one\r\ntwo\r\n", 2), (V{"one", "two"}));
    EXPECT_EQ(Split("", 0), V{});
    EXPECT_EQ(Split("single", 1), V{"single"});
    EXPECT_EQ(Split("\r\nwhole\r\ntext", 1), V{"\r\nwhole\r\ntext"});
    EXPECT_EQ(Split("GET / HTTP/1.1\r\nHost: x\r\n\r\n", 3), (V{"GET / HTTP/1.1", "Host: x", ""}));
    EXPECT_EQ(Split("a\nb\rc", 1), V{"a\nb\rc"});  // only CR LF separates
}

}  // namespace
}  // namespace vardane

namespace vardane {
namespace {

// What a hostile server may put into a name or a reply line: nothing of it
// may reach a terminal as a control, whichever way its bytes are read.
TEST(DisplayText, ReplacesEveryControlAndBidiCharacter) {
    const std::pair<std::string, std::string> cases[] = {
        {"plain name.zip", "plain name.zip"},
        {"a\tb", "a\tb"},
        {"\x1b]0;owned\x07\x1b[2J", "?]0;owned??[2J"},
        {"cr\r\nlf\x7f", "cr??lf?"},
        {"\xc2\x9b"
         "31m",
         "?31m"},  // U+009B, CSI as UTF-8
        {"\x9b"
         "31m\x85",
         "?31m?"},                                    // the same as a lone Latin-1 byte
        {"\xe9t\xc3\xa9", "\xc3\xa9t\xc3\xa9"},       // Latin-1 and UTF-8 e-acute
        {"evil\xe2\x80\xaetxt.exe", "evil?txt.exe"},  // U+202E
        {"\xe2\x81\xa6x\xe2\x81\xa9\xe2\x80\x8f\xd8\x9c", "?x???"},
        {"\xe6\x96\x87\xe4\xbb\xb6", "\xe6\x96\x87\xe4\xbb\xb6"},
    };
    for (const auto& [in, out] : cases) {
        EXPECT_EQ(DisplayText(in), out) << in;
    }
    EXPECT_EQ(DisplayText("a\tb", false), "a?b");
}

}  // namespace
}  // namespace vardane
