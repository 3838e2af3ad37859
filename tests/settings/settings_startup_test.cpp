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
    CAppContext& Start() {
        ctx_.reset();
        ctx_ = std::make_unique<CAppContext>(RootOf(dir_));
        RunSettingsStartup(*ctx_);
        return *ctx_;
    }

    // Sets a value of the store as the user would by hand between two starts.
    void SetByHand(RegRoot root, const std::string& key, const std::string& name,
                   const std::string& value) {
        CRegistry registry(dir_.Path());
        registry.Store(root).CreateKey(key);
        registry.Store(root).SetValue(key, name, value);
    }

    TempDir dir_{"vardane-settings"};
    std::unique_ptr<CAppContext> ctx_;
};

std::vector<std::string> ExpectedFirstStart(const std::string& appDir) {
    const std::string cu = "HKCU\\SOFTWARE\\Vardane\\";
    std::vector<std::string> lines = {
        "HKLM\\SOFTWARE\\Vardane\\AppPath=" + appDir + "vardane",
        "HKLM\\SOFTWARE\\Vardane\\CurrentLang=Eng",
        cu + "General\\MinAtStart=0",
        cu + "General\\DownloadAtStart=0",
        cu + "General\\MinBlock=100",
        cu + "General\\MonitorIE=0",
        cu + "General\\LinkToClipBoard=0",
        cu + "Connection\\ConnectionTimeOut=30",
        cu + "Connection\\RetryWaitSec=30",
        cu + "Connection\\MaxTasks=1",
        cu + "Connection\\RetryLimit=0",
        cu + "Connection\\RetryCounts=99",
        cu + "Connection\\SpeedLimit=1",
        cu + "Connection\\SpeedLimitKBSec=1024",
        cu + "Alarm\\Vibrative=1",
        cu + "Alarm\\PlaySound=1",
        cu + "Alarm\\ScreenNotify=1",
        cu + "Alarm\\SoundPath=\\Windows\\Alarm1.wav",
        cu + "Alarm\\AlarmSec=3",
        cu + "Language\\Lang_Cnt=3",
        cu + "Language\\Lang_1=Eng",
        cu + "Language\\Lang_2=CHS",
        cu + "Language\\Lang_3=CHT",
        cu + "Protocol\\HTTPSendReferer=1",
        cu + "Protocol\\HTTPUserAgent=3",
        cu + "Protocol\\HTTPUserAgentCount=5",
        cu + "Protocol\\HTTPUserAgent_1=",
        cu + "Protocol\\HTTPUserAgent_2=Vardane,Vardane",
        cu + "Protocol\\HTTPUserAgent_3=Pocket IE 4.x,Mozilla/4.0 (compatible; MSIE 4.01; "
             "Windows CE; PPC; 240x320)",
        cu + "Protocol\\HTTPUserAgent_4=Pocket IE 6.x,Mozilla/4.0 (compatible; MSIE 6.0; "
             "Windows CE; PPC; 240x320)",
        cu + "Protocol\\HTTPUserAgent_5=",
        cu + "Protocol\\HTTPEnableCookies=1",
        cu + "Protocol\\CookieFile=" + appDir + "cookies.txt",
        cu + "Proxy\\ProxyCnt=5",
        cu + "Proxy\\Proxy_1=0,1,Direct Connection,,0,0,,",
        cu + "Proxy\\Proxy_2=1,1,Http Connect,,,,,",
        cu + "Proxy\\Proxy_3=2,1,Http Get,,,,,",
        cu + "Proxy\\Proxy_4=3,1,Socks4,,,,,",
        cu + "Proxy\\Proxy_5=4,1,Socks5,,,,,",
        cu + "Default\\DownloadFolder=" + appDir + "Download/",
        cu + "Default\\DownloadImmediately=0",
        cu + "Default\\ThreadCnt=1",
        cu + "Default\\ProxyHTTP=1",
        cu + "Default\\ProxyFTP=1",
        cu + "Categories\\Download\\@=Downloading",
        cu + "Categories\\Download\\Music\\@=Music",
        cu + "Categories\\Download\\Video\\@=Video",
        cu + "Categories\\Download\\Software\\@=Software",
        cu + "Categories\\Download\\eBook\\@=eBooks",
        cu + "Categories\\Download\\Others\\@=Others",
        cu + "Categories\\Downloaded\\@=Completed",
        cu + "Categories\\Downloaded\\Music\\@=Music",
        cu + "Categories\\Downloaded\\Video\\@=Video",
        cu + "Categories\\Downloaded\\Software\\@=Software",
        cu + "Categories\\Downloaded\\eBook\\@=eBooks",
        cu + "Categories\\Downloaded\\Others\\@=Others",
        cu + "Categories\\Deleted\\@=Deleted",
    };
    std::sort(lines.begin(), lines.end());
    return lines;
}

TEST_F(SettingsStartupTest, FirstStartWritesExactlyTheDefaultsAndLoadsThem) {
    CAppContext& ctx = Start();
    EXPECT_EQ(DumpRegistry(ctx.registry), ExpectedFirstStart(dir_.Path()));

    // The store reached the disk: a second program reads the same values.
    CRegistry reread(dir_.Path());
    EXPECT_EQ(DumpRegistry(reread), ExpectedFirstStart(dir_.Path()));

    const CAppSettings& s = ctx.settings;
    EXPECT_EQ(s.AppDir, dir_.Path());
    EXPECT_EQ(s.AppPath, dir_.Path() + "vardane");
    EXPECT_EQ(s.CurrentLang, "Eng");
    EXPECT_EQ(ctx.lang.Current(), "Eng");
    EXPECT_FALSE(s.MinAtStart);
    EXPECT_FALSE(s.DownloadAtStart);
    EXPECT_EQ(s.MinBlock, 102400);
    EXPECT_EQ(s.ConnectionTimeOut, 30);
    EXPECT_EQ(s.RetryWaitSec, 30);
    EXPECT_EQ(s.MaxTasks, 1);
    EXPECT_FALSE(s.RetryLimit);
    EXPECT_EQ(s.RetryCounts, 99);
    EXPECT_TRUE(s.SpeedLimit);
    EXPECT_EQ(ctx.iSpeedLimitKB, 1024);
    EXPECT_TRUE(s.Vibrative);
    EXPECT_TRUE(s.PlaySound);
    EXPECT_TRUE(s.ScreenNotify);
    EXPECT_EQ(s.SoundPath, "\\Windows\\Alarm1.wav");
    EXPECT_EQ(s.AlarmSec, 3);
    EXPECT_TRUE(s.HTTPSendReferer);
    EXPECT_TRUE(s.HTTPEnableCookies);
    EXPECT_EQ(s.UserAgent, "Mozilla/4.0 (compatible; MSIE 4.01; Windows CE; PPC; 240x320)");
    EXPECT_EQ(s.CookieFile, dir_.Path() + "cookies.txt");
    EXPECT_EQ(s.SpeedLimitText, "Speed limit");
    EXPECT_EQ(s.DownloadFolder, dir_.Path() + "Download/");
    EXPECT_FALSE(s.DownloadImmediately);
    EXPECT_EQ(s.ThreadCnt, 1);
    EXPECT_EQ(s.ProxyHTTP, 1);
    EXPECT_EQ(s.ProxyFTP, 1);
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

    CAppContext& ctx = Start();
    CRegistryKey key(ctx.registry);
    ASSERT_TRUE(key.Open(RegRoot::CurrentUser, connection, false));
    EXPECT_EQ(key.QueryString("MaxTasks"), "1");
    EXPECT_EQ(key.QueryString("RetryCounts"), "abc");
    EXPECT_EQ(ctx.settings.MaxTasks, 1);
    EXPECT_EQ(ctx.settings.RetryCounts, 1) << "clamped to its range";
    EXPECT_EQ(ctx.settings.DownloadFolder, dir_.Path() + "Download/");
    EXPECT_EQ(ctx.settings.MinBlock, 7 * 1024);
    EXPECT_EQ(ctx.settings.CurrentLang, "Eng");

    CRegistryKey machine(ctx.registry);
    ASSERT_TRUE(machine.Open(RegRoot::LocalMachine, "SOFTWARE\\Vardane", false));
    EXPECT_EQ(machine.QueryString("CurrentLang"), "Eng");
    EXPECT_EQ(machine.QueryString("AppPath"), "/opt/elsewhere/vardane");
}

TEST_F(SettingsStartupTest, SpeedLimitValuesAreTakenAsStored) {
    Start();
    const std::string connection = "SOFTWARE\\Vardane\\Connection";
    SetByHand(RegRoot::CurrentUser, connection, "SpeedLimit", "0");
    SetByHand(RegRoot::CurrentUser, connection, "SpeedLimitKBSec", "300");
    CAppContext& ctx = Start();
    EXPECT_FALSE(ctx.settings.SpeedLimit);
    EXPECT_EQ(ctx.iSpeedLimitKB, 300);

    // Out of the limit control's range: kept in the store, clamped in use.
    SetByHand(RegRoot::CurrentUser, connection, "SpeedLimit", "1");
    SetByHand(RegRoot::CurrentUser, connection, "SpeedLimitKBSec", "abc");
    Start();
    EXPECT_TRUE(ctx_->settings.SpeedLimit);
    EXPECT_EQ(ctx_->iSpeedLimitKB, 1);
    SetByHand(RegRoot::CurrentUser, connection, "SpeedLimitKBSec", "99999999999999999999");
    Start();
    EXPECT_EQ(ctx_->iSpeedLimitKB, 1024);
    CRegistryKey key(ctx_->registry);
    ASSERT_TRUE(key.Open(RegRoot::CurrentUser, connection, false));
    EXPECT_EQ(key.QueryString("SpeedLimitKBSec"), "99999999999999999999");
}

TEST_F(SettingsStartupTest, OutOfRangeValuesAreClampedWhenLoaded) {
    Start();
    SetByHand(RegRoot::CurrentUser, "SOFTWARE\\Vardane\\General", "MinBlock",
              "99999999999999999999");
    SetByHand(RegRoot::CurrentUser, "SOFTWARE\\Vardane\\Connection", "MaxTasks", "-1");
    CAppContext& ctx = Start();
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
    CAppContext& ctx = Start();
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
        CRegistry registry(dir_.Path());
        CRegistryStore& store = registry.Store(RegRoot::CurrentUser);
        ASSERT_TRUE(store.DeleteKeyTree("SOFTWARE\\Vardane\\Categories\\Download"));
        store.CreateKey("SOFTWARE\\Vardane\\Categories\\Downloaded\\Mine");
        store.SetValue("SOFTWARE\\Vardane\\Categories\\Downloaded\\Mine", "", "Mine");
    }
    SetByHand(RegRoot::LocalMachine, "SOFTWARE\\Vardane", "CurrentLang", "Deu");
    CAppContext& ctx = Start();
    CRegistryStore& store = ctx.registry.Store(RegRoot::CurrentUser);
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
    CAppContext& ctx = Start();
    EXPECT_EQ(ctx.settings.CurrentLang, "Xyz");
    EXPECT_EQ(ctx.settings.SpeedLimitText, "");
    std::string text = "unset";
    ctx.registry.Store(RegRoot::CurrentUser)
        .QueryValue("SOFTWARE\\Vardane\\Categories\\Download", "", text);
    EXPECT_EQ(text, "");
}

}  // namespace
}  // namespace vardane
