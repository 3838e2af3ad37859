#include "platform/line_reader.h"

#include <gtest/gtest.h>

#include "platform/file.h"
#include "platform/utf16.h"
#include "tests/support/temp_dir.h"

namespace vardane {
namespace {

using test::TempDir;
using Lines = std::vector<std::string>;
using Encoding = TextLineReader::Encoding;

// Reads until AtEnd, which must turn true with the last line itself: a flag
// set late shows as an extra empty line in every expectation below.
Lines ReadAll(const std::string& path, Encoding* encoding = nullptr) {
    TextLineReader reader;
    EXPECT_TRUE(reader.Open(path));
    if (encoding != nullptr) {
        *encoding = reader.GetEncoding();
    }
    Lines lines;
    std::string line;
    while (!reader.AtEnd()) {
        EXPECT_TRUE(reader.ReadLine(line));
        lines.push_back(line);
    }
    EXPECT_FALSE(reader.ReadLine(line));
    EXPECT_TRUE(line.empty());
    return lines;
}

Lines ReadBytes(const TempDir& dir, std::string_view bytes, Encoding* encoding = nullptr) {
    const std::string path = dir / "file";
    EXPECT_TRUE(WriteFileAtomic(path, bytes));
    return ReadAll(path, encoding);
}

std::string Utf16Be(std::string_view text) {
    std::string le = Utf16LeBytes(text);
    for (size_t i = 0; i + 1 < le.size(); i += 2) {
        std::swap(le[i], le[i + 1]);
    }
    return "\xFE\xFF" + le;
}

// Mixed line ends, an empty line, a CJK character, an emoji and no final line end.
const std::string kText = "key=value\r\n\r\nsecond\nthird\r\xE4\xB8\xAD=\xF0\x9F\x98\x80\r\nlast";
const Lines kLines = {"key=value", "", "second", "third", "\xE4\xB8\xAD=\xF0\x9F\x98\x80", "last"};

TEST(TextLineReader, EveryEncodingGivesTheSameLines) {
    TempDir dir;
    Encoding encoding{};
    EXPECT_EQ(ReadBytes(dir, Utf16LeFileBytes(kText), &encoding), kLines);
    EXPECT_EQ(encoding, Encoding::Utf16Le);
    EXPECT_EQ(ReadBytes(dir, Utf16Be(kText), &encoding), kLines);
    EXPECT_EQ(encoding, Encoding::Utf16Be);
    EXPECT_EQ(ReadBytes(dir, "\xEF\xBB\xBF" + kText, &encoding), kLines);
    EXPECT_EQ(encoding, Encoding::Utf8);
    EXPECT_EQ(ReadBytes(dir, kText, &encoding), kLines);
    EXPECT_EQ(encoding, Encoding::Ansi);
}

TEST(TextLineReader, LineEndsAndEmptyLines) {
    TempDir dir;
    EXPECT_EQ(ReadBytes(dir, "a\r\nb\r\n"), (Lines{"a", "b"}));
    EXPECT_EQ(ReadBytes(dir, "a\n\nb\n"), (Lines{"a", "", "b"}));
    EXPECT_EQ(ReadBytes(dir, "a\r\rb"), (Lines{"a", "", "b"}));
    EXPECT_EQ(ReadBytes(dir, "a\n\r\nb"), (Lines{"a", "", "b"}));  // LF, then CR LF
    EXPECT_EQ(ReadBytes(dir, "\r\n"), (Lines{""}));
    EXPECT_EQ(ReadBytes(dir, "\n\n"), (Lines{"", ""}));
    EXPECT_EQ(ReadBytes(dir, "only"), (Lines{"only"}));
    EXPECT_EQ(ReadBytes(dir, ""), Lines{});
    EXPECT_EQ(ReadBytes(dir, "\xFF\xFE"), Lines{});
    EXPECT_EQ(ReadBytes(dir, Utf16LeFileBytes("x\r\n")), (Lines{"x"}));
}

TEST(TextLineReader, LinesLongerThanTheBuffer) {
    TempDir dir;
    std::string longLine;
    for (int i = 0; i < 3000; ++i) {
        longLine += static_cast<char>('a' + i % 26);
    }
    longLine += "\xE2\x82\xAC";  // a character split across buffer refills somewhere
    const Lines expected = {longLine, "x", longLine};
    const std::string text = longLine + "\r\nx\r\n" + longLine;
    EXPECT_EQ(ReadBytes(dir, text), expected);
    EXPECT_EQ(ReadBytes(dir, "\xEF\xBB\xBF" + text), expected);
    EXPECT_EQ(ReadBytes(dir, Utf16LeFileBytes(text)), expected);
    EXPECT_EQ(ReadBytes(dir, Utf16Be(text)), expected);
    // A CR LF pair split by the 1024-byte buffer boundary is still one line end.
    const std::string split = std::string(1023, 'q') + "\r\nz";
    EXPECT_EQ(ReadBytes(dir, split), (Lines{std::string(1023, 'q'), "z"}));
}

TEST(TextLineReader, InvalidBytesPerEncoding) {
    TempDir dir;
    // Without a mark, bytes that are not UTF-8 are Latin-1.
    EXPECT_EQ(ReadBytes(dir, "caf\xE9\r\n\xC3\xA9"), (Lines{"caf\xC3\xA9", "\xC3\xA9"}));
    // With the UTF-8 mark they are U+FFFD, and the next byte is kept.
    EXPECT_EQ(ReadBytes(dir,
                        "\xEF\xBB\xBF"
                        "a\xE9z\xC3\nb\x80"),
              (Lines{"a\xEF\xBF\xBDz\xEF\xBF\xBD", "b\xEF\xBF\xBD"}));
    // A lone surrogate in UTF-16 is U+FFFD; an odd last byte is dropped.
    EXPECT_EQ(ReadBytes(dir, std::string("\xFF\xFE\x00\xD8"
                                         "a\0\n\0b\0c",
                                         11)),
              (Lines{"\xEF\xBF\xBD"
                     "a",
                     "b"}));
}

TEST(TextLineReader, MissingFileIsAtItsEnd) {
    TempDir dir;
    TextLineReader reader;
    EXPECT_FALSE(reader.Open(dir / "missing"));
    EXPECT_TRUE(reader.AtEnd());
    std::string line = "x";
    EXPECT_FALSE(reader.ReadLine(line));
    EXPECT_TRUE(line.empty());

    // Reopening a reader on another file starts over.
    ASSERT_TRUE(WriteFileAtomic(dir / "a", "1\n2"));
    ASSERT_TRUE(reader.Open(dir / "a"));
    ASSERT_TRUE(reader.ReadLine(line));
    ASSERT_TRUE(WriteFileAtomic(dir / "b", Utf16LeFileBytes("3")));
    ASSERT_TRUE(reader.Open(dir / "b"));
    ASSERT_TRUE(reader.ReadLine(line));
    EXPECT_EQ(line, "3");
    reader.Close();
    EXPECT_TRUE(reader.AtEnd());
}

}  // namespace
}  // namespace vardane
