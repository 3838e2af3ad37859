// The shipped language files: encoding, line ends, the display name and every
// key of the program exactly once.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "lang/profile_value.h"
#include "platform/file.h"
#include "platform/utf16.h"

namespace vardane {
namespace {

// The language keys the program names: every string literal of a key's form
// in the sources.
std::set<std::string> KeysNamedInSources() {
    static const std::regex key(
        "\"((?:BrowseDlg|EdtCatDlg|EdtSite|EdtTaskDlg|Log|MainDlg|Menu|Msg|Notify|SettingDlg|"
        "SiteExp)_[A-Za-z0-9_]+)\"");
    std::set<std::string> keys;
    const std::filesystem::path root(VARDANE_SOURCE_DIR);
    for (const char* folder : {"app", "cli", "dialogs", "engine", "explorer", "gui", "lang", "net",
                               "platform", "settings", "task"}) {
        if (!std::filesystem::exists(root / folder)) {
            continue;
        }
        for (const auto& entry : std::filesystem::recursive_directory_iterator(root / folder)) {
            const std::string ext = entry.path().extension().string();
            std::string text;
            if ((ext != ".cpp" && ext != ".h") || !ReadFileBytes(entry.path().string(), text)) {
                continue;
            }
            for (std::sregex_iterator it(text.begin(), text.end(), key), end; it != end; ++it) {
                keys.insert((*it)[1].str());
            }
        }
    }
    return keys;
}

struct Shipped {
    const char* code;
    const char* displayName;
};

class LangFileTest : public ::testing::TestWithParam<Shipped> {
  protected:
    static std::string Folder() { return std::string(VARDANE_SOURCE_DIR) + "/Lang/"; }
    std::string Path() const { return Folder() + GetParam().code; }
};

// Splits at CR LF; fails on a CR or LF standing alone.
std::vector<std::string> CrLfLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find("\r\n", start);
        EXPECT_NE(end, std::string::npos) << "last line without CR LF";
        if (end == std::string::npos) {
            break;
        }
        std::string line = text.substr(start, end - start);
        EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos) << "bare CR or LF: " << line;
        lines.push_back(line);
        start = end + 2;
    }
    return lines;
}

// Each key of a file with how often it stands there; a line without a
// key or without a text fails.
std::map<std::string, int> KeyCounts(const std::string& path) {
    std::string bytes;
    EXPECT_TRUE(ReadFileBytes(path, bytes));
    std::map<std::string, int> seen;
    for (const std::string& line : CrLfLines(DecodeUtf16Le(bytes.substr(2)))) {
        const size_t eq = line.find('=');
        if (line == "[Lang]") {
            continue;
        }
        EXPECT_TRUE(eq != std::string::npos && eq > 0) << line;
        EXPECT_LT(eq + 1, line.size()) << line << " has no text";
        ++seen[line.substr(0, eq)];
    }
    return seen;
}

std::set<std::string> EnglishKeys() {
    std::set<std::string> keys;
    for (const auto& entry : KeyCounts(std::string(VARDANE_SOURCE_DIR) + "/Lang/Eng")) {
        keys.insert(entry.first);
    }
    return keys;
}

TEST_P(LangFileTest, IsUtf16LeWithBomAndCrLf) {
    std::string bytes;
    ASSERT_TRUE(ReadFileBytes(Path(), bytes));
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ(bytes.substr(0, 2), std::string(kUtf16LeBom));
    EXPECT_EQ(bytes.size() % 2, 0u);
    std::string text = DecodeUtf16Le(bytes.substr(2));
    EXPECT_EQ(Utf16LeBytes(text), bytes.substr(2)) << "not valid UTF-16LE";
    std::vector<std::string> lines = CrLfLines(text);
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[0], "[Lang]");
    EXPECT_EQ(lines[1], std::string("Language=") + GetParam().displayName);
    EXPECT_EQ(GetProfileValue(Path(), "Lang", "Language", ""), GetParam().displayName);
}

// Every file holds the same keys, each once and with a text, and every key
// the program names: a missing one would show an empty label.
TEST_P(LangFileTest, HoldsEveryKeyOfTheProgramExactlyOnce) {
    std::map<std::string, int> seen = KeyCounts(Path());
    for (const auto& [key, count] : seen) {
        EXPECT_EQ(count, 1) << key;
    }
    std::set<std::string> keys;
    for (const auto& entry : seen) {
        keys.insert(entry.first);
    }
    EXPECT_EQ(keys, EnglishKeys());
    static const std::set<std::string> named = KeysNamedInSources();
    ASSERT_GT(named.size(), 100u);
    for (const std::string& key : named) {
        EXPECT_EQ(keys.count(key), 1u) << key << " is named in the sources";
    }
}

TEST_P(LangFileTest, MatchesItsReadableSource) {
    std::string bytes;
    std::string source;
    ASSERT_TRUE(ReadFileBytes(Path(), bytes));
    ASSERT_TRUE(ReadFileBytes(
        std::string(VARDANE_SOURCE_DIR) + "/tools/lang/" + GetParam().code + ".txt", source));
    std::string expected;
    for (char c : source) {
        if (c == '\n') {
            expected += '\r';
        }
        expected += c;
    }
    EXPECT_EQ(DecodeUtf16Le(bytes.substr(2)), expected)
        << "run tools/make_lang_files.sh after editing tools/lang/";
}

INSTANTIATE_TEST_SUITE_P(Shipped, LangFileTest,
                         ::testing::Values(Shipped{"Eng", "English"}, Shipped{"CHS", "简体中文"},
                                           Shipped{"CHT", "繁體中文"}),
                         [](const auto& info) { return std::string(info.param.code); });

}  // namespace
}  // namespace vardane
