#include "lang/language_list.h"

#include <gtest/gtest.h>

#include "lang/lang_table.h"
#include "lang/profile_value.h"
#include "platform/registry.h"
#include "platform/utf16.h"
#include "tests/support/temp_dir.h"

namespace vardane {
namespace {

using test::TempDir;
using test::WriteFile;

class ProfileValueTest : public ::testing::Test {
  protected:
    std::string Write(const std::string& name, const std::string& bytes) {
        std::string path = dir_ / name;
        EXPECT_TRUE(WriteFile(path, bytes));
        return path;
    }
    TempDir dir_{"vardane-profile"};
};

TEST_F(ProfileValueTest, ReadsTheValueBehindTheSectionHeader) {
    std::string path = Write("a", Utf16LeFileBytes("Language=Wrong\r\n[Lang]\r\nX=1\r\n"
                                                   "Language=简体中文\r\nAppTitle=V\r\n"));
    EXPECT_EQ(GetProfileValue(path, "Lang", "Language", "dflt"), "简体中文");
    EXPECT_EQ(GetProfileValue(path, "Lang", "Missing", "dflt"), "dflt");
    EXPECT_EQ(GetProfileValue(path, "Other", "Language", "dflt"), "dflt");
    EXPECT_EQ(GetProfileValue(path, "", "Language", "dflt"), "dflt");
    EXPECT_EQ(GetProfileValue(path, "Lang", "", "dflt"), "dflt");
    EXPECT_EQ(GetProfileValue(dir_ / "none", "Lang", "Language", "dflt"), "dflt");
}

TEST_F(ProfileValueTest, PlainSearchRulesOfTheFormat) {
    // The key may stand in a later section; it is found by plain search.
    std::string later = Write("later", Utf16LeFileBytes("[Lang]\r\n[Text]\r\nLanguage=L\r\n"));
    EXPECT_EQ(GetProfileValue(later, "Lang", "Language", ""), "L");
    // Without a byte-order mark the text is still read as UTF-16LE.
    std::string bare = Write("bare", Utf16LeBytes("[Lang]\r\nLanguage=B\r\n"));
    EXPECT_EQ(GetProfileValue(bare, "Lang", "Language", ""), "B");
    // The value needs its CR LF; a header needs its CR LF.
    std::string noEnd = Write("noend", Utf16LeFileBytes("[Lang]\r\nLanguage=N"));
    EXPECT_EQ(GetProfileValue(noEnd, "Lang", "Language", "d"), "d");
    std::string lf = Write("lf", Utf16LeFileBytes("[Lang]\nLanguage=N\r\n"));
    EXPECT_EQ(GetProfileValue(lf, "Lang", "Language", "d"), "d");
    // Another encoding serves lookups but gives no display name.
    std::string utf8 = Write("utf8", "\xEF\xBB\xBF[Lang]\r\nLanguage=U\r\n");
    EXPECT_EQ(GetProfileValue(utf8, "Lang", "Language", ""), "");
}

TEST(LanguageListTest, ListsCodesWithNamesAndTheCurrentOne) {
    TempDir dir("vardane-langlist");
    std::string folder = dir.MakeDir("Lang");
    ASSERT_TRUE(WriteFile(folder + "Eng", Utf16LeFileBytes("[Lang]\r\nLanguage=English\r\n")));
    ASSERT_TRUE(WriteFile(folder + "CHS", Utf16LeFileBytes("AppTitle=Vardane\r\n")));
    ASSERT_TRUE(WriteFile(folder + "U8", "[Lang]\r\nLanguage=UTF-8\r\n"));

    Registry registry(dir.Path());
    LangTable lang({folder}, "chs");
    EXPECT_TRUE(LanguageList(registry, lang).empty());

    RegistryKey key(registry);
    ASSERT_TRUE(key.Open(RegRoot::CurrentUser, "SOFTWARE\\Vardane\\Language", true));
    key.SetString("Lang_Cnt", "5");
    key.SetString("Lang_1", "Eng");
    key.SetString("Lang_2", "CHS");
    key.SetString("Lang_3", "U8");
    key.SetString("Lang_4", "Gone");
    std::vector<LanguageEntry> list = LanguageList(registry, lang);
    ASSERT_EQ(list.size(), 5u);
    EXPECT_EQ(list[0].Code, "Eng");
    EXPECT_EQ(list[0].DisplayName, "English");
    EXPECT_FALSE(list[0].IsCurrent);
    EXPECT_EQ(list[1].Code, "CHS");
    EXPECT_EQ(list[1].DisplayName, "");  // no [Lang] section
    EXPECT_TRUE(list[1].IsCurrent);
    EXPECT_EQ(list[2].DisplayName, "");  // not UTF-16LE
    EXPECT_EQ(list[3].DisplayName, "");  // no file
    EXPECT_EQ(list[4].Code, "");         // Lang_5 missing: an empty line
    EXPECT_FALSE(list[4].IsCurrent);
}

}  // namespace
}  // namespace vardane
