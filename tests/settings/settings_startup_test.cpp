#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "settings/app_context.h"
#include "settings/settings_startup.h"
#include "tests/settings/settings_test_root.h"

namespace vardane {
namespace {

using test::DumpRegistry;
using test::RootOf;
using test::TempDir;
using test::WriteLangFile;

const std::vector<std::string> kEnglish = {
    "[Lang]",
    "Language=English",
    "MainDlg_SpeedLimit=Speed limit",
    "MainDlg_Folder_Downloading=Downloading",
    "MainDlg_Folder_Completed=Completed",
    "MainDlg_Folder_Deleted=Deleted",
    "MainDlg_Folder_Music=Music",
    "MainDlg_Folder_Video=Video",
    "MainDlg_Folder_Soft=Software",
    "MainDlg_Folder_eBook=eBooks",
    "MainDlg_Folder_Others=Others",
};

const std::vector<std::string> kGerman = {
    "[Lang]",
    "Language=Deutsch",
    "MainDlg_SpeedLimit=Tempolimit",
    "MainDlg_Folder_Downloading=Laufend",
    "MainDlg_Folder_Completed=Fertig",
    "MainDlg_Folder_Deleted=Papierkorb",
    "MainDlg_Folder_Music=Musik",
    "MainDlg_Folder_Video=Filme",
    "MainDlg_Folder_Soft=Programme",
    "MainDlg_Folder_eBook=Bücher",
    "MainDlg_Folder_Others=Sonstiges",
};

class SettingsStartupTest : public ::testing::Test {
  protected:
    SettingsStartupTest() {
        WriteLangFile(dir_, "Eng", kEnglish);
        WriteLangFile(dir_, "Deu", kGerman);
    }

    // A fresh program start on the same data root.
    AppContext& Start() {
        ctx_.reset();
        ctx_ = std::make_unique<AppContext>(RootOf(dir_));
        RunSettingsStartup(*ctx_);
        return *ctx_;
    }

    // Sets a value of the store as the user would by hand between two starts.
    void SetByHand(RegRoot root, const std::string& key, const std::string& name,
                   const std::string& value) {
        Registry registry(dir_.Path());
        registry.Store(root).CreateKey(key);
        registry.Store(root).SetValue(key, name, value);
    }

    TempDir dir_{"vardane-settings"};
    std::unique_ptr<AppContext> ctx_;
};

// The defaults themselves live in one table (default_settings.cpp); this
// checks what start-up derives: paths from the data root, texts from the
// language file, units, and that the store reached the disk.
TEST_F(SettingsStartupTest, FirstStartWritesTheDefaultsToDiskAndLoadsThem) {
    AppContext& ctx = Start();
    std::vector<std::string> written = DumpRegistry(ctx.registry);
    Registry reread(dir_.Path());
    EXPECT_EQ(DumpRegistry(reread), written);
    const std::string cu = "HKCU\\SOFTWARE\\Vardane\\";
    for (const std::string& line :
         {"HKLM\\SOFTWARE\\Vardane\\AppPath=" + dir_.Path() + "vardane",
          cu + "Default\\DownloadFolder=" + dir_.Path() + "Download/",
          cu + "Protocol\\CookieFile=" + dir_.Path() + "cookies.txt",
          cu + "Categories\\Downloaded\\eBook\\@=eBooks", cu + "Categories\\Deleted\\@=Deleted"}) {
        EXPECT_NE(std::find(written.begin(), written.end(), line), written.end()) << line;
    }

    const AppSettings& s = ctx.settings;
    EXPECT_EQ(s.AppDir, dir_.Path());
    EXPECT_EQ(ctx.lang.Current(), "Eng");
    EXPECT_EQ(s.MinBlock, 100 * 1024) << "stored in KB";
    EXPECT_EQ(ctx.SpeedLimitKB, 1024);
    EXPECT_EQ(s.UserAgent, "Mozilla/4.0 (compatible; MSIE 4.01; Windows CE; PPC; 240x320)");
    EXPECT_EQ(s.SpeedLimitText, "Speed limit");
    EXPECT_EQ(s.DownloadFolder, dir_.Path() + "Download/");
}

TEST_F(SettingsStartupTest, EmptiedValuesComeBackAndTextIsNeverOverwritten) {
    Start();
    const std::string connection = "SOFTWARE\\Vardane\\Connection";
    SetByHand(RegRoot::CurrentUser, connection, "MaxTasks", "");
    SetByHand(RegRoot::CurrentUser, connection, "RetryCounts", "abc");
    SetByHand(RegRoot::CurrentUser, "SOFTWARE\\Vardane\\Default", "DownloadFolder", "");
    SetByHand(RegRoot::CurrentUser, "SOFTWARE\\Vardane\\General", "MinBlock", "7x");
    SetByHand(RegRoot::LocalMachine, "SOFTWARE\\Vardane", "CurrentLang", "");
    SetByHand(RegRoot::LocalMachine, "SOFTWARE\\Vardane", "AppPath", "/opt/elsewhere/vardane");

    AppContext& ctx = Start();
    RegistryKey key(ctx.registry);
    ASSERT_TRUE(key.Open(RegRoot::CurrentUser, connection, false));
    EXPECT_EQ(key.QueryString("MaxTasks"), "1");
    EXPECT_EQ(key.QueryString("RetryCounts"), "abc");
    EXPECT_EQ(ctx.settings.MaxTasks, 1);
    EXPECT_EQ(ctx.settings.RetryCounts, 1) << "clamped to its range";
    EXPECT_EQ(ctx.settings.DownloadFolder, dir_.Path() + "Download/");
    EXPECT_EQ(ctx.settings.MinBlock, 7 * 1024);
    EXPECT_EQ(ctx.settings.CurrentLang, "Eng");

    RegistryKey machine(ctx.registry);
    ASSERT_TRUE(machine.Open(RegRoot::LocalMachine, "SOFTWARE\\Vardane", false));
    EXPECT_EQ(machine.QueryString("CurrentLang"), "Eng");
    EXPECT_EQ(machine.QueryString("AppPath"), "/opt/elsewhere/vardane");
}

TEST_F(SettingsStartupTest, SpeedLimitValuesAreTakenAsStored) {
    Start();
    const std::string connection = "SOFTWARE\\Vardane\\Connection";
    SetByHand(RegRoot::CurrentUser, connection, "SpeedLimit", "0");
    SetByHand(RegRoot::CurrentUser, connection, "SpeedLimitKBSec", "300");
    AppContext& ctx = Start();
    EXPECT_FALSE(ctx.settings.SpeedLimit);
    EXPECT_EQ(ctx.SpeedLimitKB, 300);

    // Out of the limit control's range: kept in the store, clamped in use.
    SetByHand(RegRoot::CurrentUser, connection, "SpeedLimit", "1");
    SetByHand(RegRoot::CurrentUser, connection, "SpeedLimitKBSec", "abc");
    Start();
    EXPECT_TRUE(ctx_->settings.SpeedLimit);
    EXPECT_EQ(ctx_->SpeedLimitKB, 1);
    SetByHand(RegRoot::CurrentUser, connection, "SpeedLimitKBSec", "99999999999999999999");
    Start();
    EXPECT_EQ(ctx_->SpeedLimitKB, 1024);
    RegistryKey key(ctx_->registry);
    ASSERT_TRUE(key.Open(RegRoot::CurrentUser, connection, false));
    EXPECT_EQ(key.QueryString("SpeedLimitKBSec"), "99999999999999999999");
}

TEST_F(SettingsStartupTest, OutOfRangeValuesAreClampedWhenLoaded) {
    Start();
    SetByHand(RegRoot::CurrentUser, "SOFTWARE\\Vardane\\General", "MinBlock",
              "99999999999999999999");
    SetByHand(RegRoot::CurrentUser, "SOFTWARE\\Vardane\\Connection", "MaxTasks", "-1");
    AppContext& ctx = Start();
    EXPECT_EQ(ctx.settings.MinBlock, 1024 * 1024);
    EXPECT_EQ(ctx.settings.MaxTasks, 1) << "0 or less would leave every task waiting";
    SetByHand(RegRoot::CurrentUser, "SOFTWARE\\Vardane\\Connection", "MaxTasks", "0");
    EXPECT_EQ(Start().settings.MaxTasks, 1);
}

struct UserAgentCase {
    const char* selected;
    const char* entry5;
    const char* expected;
};

class UserAgentTest : public SettingsStartupTest,
                      public ::testing::WithParamInterface<UserAgentCase> {};

TEST_P(UserAgentTest, SelectedEntryGivesTheUserAgent) {
    Start();
    const std::string protocol = "SOFTWARE\\Vardane\\Protocol";
    SetByHand(RegRoot::CurrentUser, protocol, "HTTPUserAgent", GetParam().selected);
    if (*GetParam().entry5) {
        SetByHand(RegRoot::CurrentUser, protocol, "HTTPUserAgent_5", GetParam().entry5);
    }
    EXPECT_EQ(Start().settings.UserAgent, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Entries, UserAgentTest,
    ::testing::Values(
        UserAgentCase{"3", "", "Mozilla/4.0 (compatible; MSIE 4.01; Windows CE; PPC; 240x320)"},
        UserAgentCase{"2", "", "Vardane"}, UserAgentCase{"1", "", ""},
        // The user-defined entry is stored bare; a comma in it still cuts it.
        UserAgentCase{"5", "MyAgent/1.0", "MyAgent/1.0"},
        UserAgentCase{"5", "MyAgent/1.0 (X11, Linux)", " Linux)"},
        // A comma in the first position does not separate a display name.
        UserAgentCase{"5", ",Agent", ",Agent"},
        // Entries that do not exist send no User-Agent.
        UserAgentCase{"0", "", ""}, UserAgentCase{"6", "", ""}, UserAgentCase{"abc", "", ""}));

TEST_F(SettingsStartupTest, UserAgentBeyondTheCountIsNotUsed) {
    Start();
    const std::string protocol = "SOFTWARE\\Vardane\\Protocol";
    SetByHand(RegRoot::CurrentUser, protocol, "HTTPUserAgent_6", "Stale,Old/1.0");
    SetByHand(RegRoot::CurrentUser, protocol, "HTTPUserAgent", "6");
    EXPECT_EQ(Start().settings.UserAgent, "");
    SetByHand(RegRoot::CurrentUser, protocol, "HTTPUserAgentCount", "6");
    EXPECT_EQ(Start().settings.UserAgent, "Old/1.0");
}

TEST_F(SettingsStartupTest, CategoryRootsFollowTheLanguageSubCategoriesKeepTheirs) {
    Start();
    SetByHand(RegRoot::LocalMachine, "SOFTWARE\\Vardane", "CurrentLang", "Deu");
    AppContext& ctx = Start();
    EXPECT_EQ(ctx.settings.CurrentLang, "Deu");
    EXPECT_EQ(ctx.settings.SpeedLimitText, "Tempolimit");

    std::vector<std::string> categories;
    for (const std::string& line : DumpRegistry(ctx.registry)) {
        if (line.find("\\Categories\\") != std::string::npos) {
            categories.push_back(line);
        }
    }
    const std::string cat = "HKCU\\SOFTWARE\\Vardane\\Categories\\";
    std::vector<std::string> expected = {
        cat + "Deleted\\@=Papierkorb",        cat + "Download\\@=Laufend",
        cat + "Download\\eBook\\@=eBooks",    cat + "Download\\Music\\@=Music",
        cat + "Download\\Others\\@=Others",   cat + "Download\\Software\\@=Software",
        cat + "Download\\Video\\@=Video",     cat + "Downloaded\\@=Fertig",
        cat + "Downloaded\\eBook\\@=eBooks",  cat + "Downloaded\\Music\\@=Music",
        cat + "Downloaded\\Others\\@=Others", cat + "Downloaded\\Software\\@=Software",
        cat + "Downloaded\\Video\\@=Video",
    };
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(categories, expected);
}

TEST_F(SettingsStartupTest, MissingFolderKeyIsRebuiltInTheCurrentLanguage) {
    Start();
    {
        Registry registry(dir_.Path());
        RegistryStore& store = registry.Store(RegRoot::CurrentUser);
        ASSERT_TRUE(store.DeleteKeyTree("SOFTWARE\\Vardane\\Categories\\Download"));
        store.CreateKey("SOFTWARE\\Vardane\\Categories\\Downloaded\\Mine");
        store.SetValue("SOFTWARE\\Vardane\\Categories\\Downloaded\\Mine", "", "Mine");
    }
    SetByHand(RegRoot::LocalMachine, "SOFTWARE\\Vardane", "CurrentLang", "Deu");
    AppContext& ctx = Start();
    RegistryStore& store = ctx.registry.Store(RegRoot::CurrentUser);
    EXPECT_EQ(store.SubKeys("SOFTWARE\\Vardane\\Categories\\Download"),
              (std::vector<std::string>{"eBook", "Music", "Others", "Software", "Video"}));
    std::string text;
    ASSERT_TRUE(store.QueryValue("SOFTWARE\\Vardane\\Categories\\Download\\Music", "", text));
    EXPECT_EQ(text, "Musik");
    // An existing folder key keeps its sub-categories, also the user's own.
    EXPECT_EQ(store.SubKeys("SOFTWARE\\Vardane\\Categories\\Downloaded").size(), 6u);
    EXPECT_TRUE(store.SubKeys("SOFTWARE\\Vardane\\Categories\\Deleted").empty());
}

TEST_F(SettingsStartupTest, MissingLanguageFileLeavesTextsEmpty) {
    SetByHand(RegRoot::LocalMachine, "SOFTWARE\\Vardane", "CurrentLang", "Xyz");
    AppContext& ctx = Start();
    EXPECT_EQ(ctx.settings.CurrentLang, "Xyz");
    EXPECT_EQ(ctx.settings.SpeedLimitText, "");
    std::string text = "unset";
    ctx.registry.Store(RegRoot::CurrentUser)
        .QueryValue("SOFTWARE\\Vardane\\Categories\\Download", "", text);
    EXPECT_EQ(text, "");
}

}  // namespace
}  // namespace vardane
