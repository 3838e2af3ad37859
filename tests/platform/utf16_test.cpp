#include "platform/utf16.h"

#include <gtest/gtest.h>

namespace vardane {
namespace {

TEST(Utf16, RoundTripsThroughSurrogatePairs) {
    const std::string text = "A\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80";  // A, e acute, CJK, emoji
    const std::u16string units = Utf8ToUtf16(text);
    EXPECT_EQ(units, (std::u16string{u'A', 0x00E9, 0x4E2D, 0xD83D, 0xDE00}));
    EXPECT_EQ(Utf16ToUtf8(units), text);
}

TEST(Utf16, FileBytesAreLittleEndianWithMark) {
    EXPECT_EQ(Utf16LeBytes("Ab"), std::string("A\0b\0", 4));
    EXPECT_EQ(Utf16LeFileBytes("A\r\n"), std::string("\xFF\xFE"
                                                     "A\0\r\0\n\0",
                                                     8));
    EXPECT_EQ(Utf16LeBytes("\xF0\x9F\x98\x80"), std::string("\x3D\xD8\x00\xDE", 4));
    EXPECT_EQ(DecodeUtf16Le(std::string("A\0\x3D\xD8\x00\xDE"
                                        "x",
                                        7)),
              "A\xF0\x9F\x98\x80");
}

TEST(Utf16, InvalidInputBecomesReplacementCharacter) {
    EXPECT_EQ(Utf16ToUtf8(std::u16string{0xD800, u'a'}),
              "\xEF\xBF\xBD"
              "a");
    EXPECT_EQ(Utf16ToUtf8(std::u16string{0xDC00}), "\xEF\xBF\xBD");
    EXPECT_EQ(Utf8ToUtf16("\xFF"
                          "a"),
              (std::u16string{0xFFFD, u'a'}));
}

TEST(Utf8Decoder, AcceptsOnlyShortestForms) {
    char32_t cp = 0;
    EXPECT_EQ(DecodeUtf8Char("\xF4\x8F\xBF\xBF", 0, cp), 4u);
    EXPECT_EQ(cp, 0x10FFFFu);
    EXPECT_EQ(DecodeUtf8Char("\xF4\x90\x80\x80", 0, cp), 0u);  // past U+10FFFF
    EXPECT_EQ(DecodeUtf8Char("\xE0\x80\x80", 0, cp), 0u);      // overlong
    EXPECT_EQ(DecodeUtf8Char("\xE2\x82", 0, cp), 0u);          // truncated
    EXPECT_EQ(DecodeUtf8Char("x\xE2\x82\xAC", 1, cp), 3u);
    EXPECT_EQ(cp, 0x20ACu);
}

}  // namespace
}  // namespace vardane
