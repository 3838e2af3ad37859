#include "lang/lang_table.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/utf16.h"
#include "tests/support/temp_dir.h"

namespace vardane {
namespace {

using test::TempDir;
using test::WriteFile;

const char kText[] =
    "[Lang]\r\n"
    "Log_Connected=connected %s  \r\n"
    "Log_Timeout =with a space\r\n"
    "Log_TimeOut=timed out\r\n"
    "=starts with equals\r\n"
    "no equals sign here\r\n"
    "Msg_Empty=\r\n"
    "Msg_Formula=a=b=c\r\n"
    "Log_Connected=second definition\r\n"
    "AppTitle=下载 Über\r\n"
    "Notify_View=Ansicht";  // no line end

// Big-endian UTF-16 with its byte-order mark.
std::string Utf16BeFileBytes(const std::string& text) {
    std::string le = Utf16LeBytes(text);
    for (size_t i = 0; i + 1 < le.size(); i += 2) {
        std::swap(le[i], le[i + 1]);
    }
    return "\xFE\xFF" + le;
}

class LangTableTest : public ::testing::Test {
  protected:
    std::string Folder() const { return dir_ / "Lang/"; }
    TempDir dir_{"vardane-lang"};
};

TEST_F(LangTableTest, LookupRulesHoldInEveryEncoding) {
    std::vector<std::pair<std::string, std::string>> files = {
        {"le", Utf16LeFileBytes(kText)},
        {"be", Utf16BeFileBytes(kText)},
        {"u8", "\xEF\xBB\xBF" + std::string(kText)},
        {"ansi", kText},
    };
    for (const auto& [code, bytes] : files) {
        SCOPED_TRACE(code);
        ASSERT_TRUE(WriteFile(Folder() + code, bytes));
        LangTable lang({Folder()}, code);
        EXPECT_EQ(lang.GetLangText("Log_Connected"), "connected %s  ");
        EXPECT_EQ(lang.GetLangText("log_connected"), "connected %s  ");
        EXPECT_EQ(lang.GetLangText("LOG_TIMEOUT"), "timed out");
        EXPECT_EQ(lang.GetLangText("Log_Timeout "), "with a space");
        EXPECT_EQ(lang.GetLangText("Msg_Empty"), "");
        EXPECT_EQ(lang.GetLangText("Msg_Formula"), "a=b=c");
        EXPECT_EQ(lang.GetLangText("Notify_View"), "Ansicht");
        EXPECT_EQ(lang.GetAppTitle(), "下载 Über");
        EXPECT_EQ(lang.GetLangText(""), "");
        EXPECT_EQ(lang.GetLangText("no equals sign here"), "");
        EXPECT_EQ(lang.GetLangText("Missing"), "");
    }
}

TEST_F(LangTableTest, MissingFileOrFolderGivesEmptyTexts) {
    LangTable none({Folder()}, "Eng");
    EXPECT_EQ(none.GetAppTitle(), "");
    EXPECT_EQ(none.LangFilePath("Eng"), "");
    LangTable empty;
    EXPECT_EQ(empty.GetLangText("AppTitle"), "");
}

TEST_F(LangTableTest, FirstFolderHoldingTheFileWins) {
    std::string first = dir_.MakeDir("first");
    std::string second = dir_.MakeDir("second");
    ASSERT_TRUE(WriteFile(second + "Eng", "AppTitle=second\r\n"));
    ASSERT_TRUE(WriteFile(second + "CHS", "AppTitle=chs\r\n"));
    ASSERT_TRUE(WriteFile(first + "Eng", "AppTitle=first\r\n"));
    LangTable lang({first, second}, "Eng");
    EXPECT_EQ(lang.GetAppTitle(), "first");
    EXPECT_EQ(lang.LangFilePath("CHS"), second + "CHS");
    lang.SetCurrent("CHS");
    EXPECT_EQ(lang.GetAppTitle(), "chs");
}

TEST_F(LangTableTest, ChangedFileIsSeenAfterSetCurrent) {
    ASSERT_TRUE(WriteFile(Folder() + "Eng", "AppTitle=old\r\n"));
    LangTable lang({Folder()}, "Eng");
    EXPECT_EQ(lang.GetAppTitle(), "old");
    ASSERT_TRUE(WriteFile(Folder() + "Eng", "AppTitle=new\r\n"));
    EXPECT_EQ(lang.GetAppTitle(), "old");  // loaded once
    lang.SetCurrent("Eng");
    EXPECT_EQ(lang.GetAppTitle(), "new");
    EXPECT_EQ(lang.Current(), "Eng");
}

TEST_F(LangTableTest, ConcurrentLookupsWhileTheLanguageChanges) {
    ASSERT_TRUE(WriteFile(Folder() + "A", "Log_StartRecv=a\r\n"));
    ASSERT_TRUE(WriteFile(Folder() + "B", "Log_StartRecv=b\r\n"));
    LangTable lang({Folder()}, "A");
    std::vector<std::thread> readers;
    for (int t = 0; t < 4; ++t) {
        readers.emplace_back([&lang] {
            for (int i = 0; i < 500; ++i) {
                std::string text = lang.GetLangText("Log_StartRecv");
                ASSERT_TRUE(text == "a" || text == "b") << text;
            }
        });
    }
    for (int i = 0; i < 200; ++i) {
        lang.SetCurrent(i % 2 ? "A" : "B");
    }
    for (std::thread& t : readers) {
        t.join();
    }
}

}  // namespace
}  // namespace vardane
