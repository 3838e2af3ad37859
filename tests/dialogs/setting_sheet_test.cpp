// The settings sheet model: number checks with their page, message and focus
// (and nothing written on a refusal), what OK writes and reloads, the
// language switch, and the proxy list with its edit dialog.
#include <gtest/gtest.h>

#include <functional>

#include "dialogs/setting_sheet.h"
#include "platform/registry.h"
#include "platform/utf16.h"
#include "settings/registry_paths.h"
#include "tests/dialogs/dialog_test_root.h"

namespace vardane {
namespace {

using test::DialogTestRoot;
using test::ScriptedQuestions;
using Sheet = SettingDlgSheet;

class SettingSheetTest : public ::testing::Test {
  protected:
    AppContext& Ctx() { return root.Ctx(); }
    std::string Value(std::string_view group, std::string_view name) {
        RegistryKey key(Ctx().registry);
        key.Open(RegRoot::CurrentUser, GroupKeyPath(group), false);
        return key.QueryString(name);
    }
    std::string StoreFiles() {
        return test::ReadFile(root.Path("Registry/HKCU.reg")) +
               test::ReadFile(root.Path("Registry/HKLM.reg"));
    }
    // Runs the proxy dialog of the selected row with edit applied to it.
    bool EditProxy(Sheet& sheet, int row, const std::function<void(EdtProxyDlg&)>& edit) {
        sheet.Proxy().Selection = row;
        return sheet.OnEditProxy([&](EdtProxyDlg& dlg) {
            edit(dlg);
            EXPECT_TRUE(dlg.Ok());
        });
    }

    DialogTestRoot root;
    ScriptedQuestions questions;
};

TEST_F(SettingSheetTest, InvalidNumberIsRefusedOnItsPageAndNothingIsWritten) {
    struct Case {
        std::function<void(Sheet&)> set;
        int page;
        const char* field;
        const char* message;
    };
    const Case cases[] = {
        {[](Sheet& s) { s.General().MinBlock = "0"; }, 0, Sheet::kFieldMinBlock, "1 to 1024"},
        {[](Sheet& s) { s.General().MinBlock = "1025"; }, 0, Sheet::kFieldMinBlock, "1 to 1024"},
        {[](Sheet& s) { s.General().MinBlock = ""; }, 0, Sheet::kFieldMinBlock, "1 to 1024"},
        {[](Sheet& s) { s.General().MinBlock = " 5"; }, 0, Sheet::kFieldMinBlock, "1 to 1024"},
        {[](Sheet& s) { s.General().MinBlock = "5k"; }, 0, Sheet::kFieldMinBlock, "1 to 1024"},
        {[](Sheet& s) { s.General().MinBlock = "4294967297"; }, 0, Sheet::kFieldMinBlock,
         "1 to 1024"},
        // The first invalid field in page order wins.
        {[](Sheet& s) {
             s.Message().AlarmSec = "0";
             s.Connection().ConnectionTimeOut = "91";
         },
         1, Sheet::kFieldConnectionTimeOut, "1 to 90"},
        {[](Sheet& s) { s.Connection().RetryWaitSec = "-1"; }, 1, Sheet::kFieldRetryWaitSec,
         "1 to 90"},
        {[](Sheet& s) {
             s.Connection().RetryLimit = true;
             s.Connection().RetryCounts = "100";
         },
         1, Sheet::kFieldRetryCounts, "1 to 99"},
        {[](Sheet& s) { s.Message().AlarmSec = "100"; }, 2, Sheet::kFieldAlarmSec, "1 to 99"},
    };
    const std::string before = StoreFiles();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.field);
        Sheet sheet(Ctx(), questions);
        c.set(sheet);
        sheet.General().LanguageSelection = 1;  // a language change is not written either
        questions.asked.clear();
        EXPECT_FALSE(sheet.Ok());
        EXPECT_FALSE(sheet.Accepted());
        EXPECT_EQ(sheet.CurrentPage(), c.page);
        EXPECT_EQ(sheet.FocusField(), c.field);
        ASSERT_EQ(questions.asked.size(), 1u);
        EXPECT_EQ(questions.asked[0].Text, c.message);
        EXPECT_EQ(questions.asked[0].Caption, "Vardane");
        EXPECT_EQ(questions.asked[0].Icon, QuestionIcon::Error);
        EXPECT_EQ(questions.asked[0].FocusField, c.field);
        EXPECT_EQ(StoreFiles(), before);
    }
}

TEST_F(SettingSheetTest, OkWritesEveryPageAsTypedAndReloadsTheRecord) {
    Sheet sheet(Ctx(), questions);
    EXPECT_EQ(sheet.General().MinBlock, "100");
    EXPECT_EQ(sheet.Connection().MaxTasksSelection, 0);
    EXPECT_EQ(sheet.Protocol().UserAgentSelection, 2);

    sheet.General().MinAtStart = true;
    sheet.General().MinBlock = "0010";  // leading zeros are kept as typed
    sheet.Connection().ConnectionTimeOut = "45";
    sheet.Connection().MaxTasksSelection = 2;
    sheet.Connection().RetryCounts = "0";  // not checked while the limit is off
    sheet.Message().Vibrative = false;
    sheet.Message().SoundPath = "/snd/ding.wav";
    sheet.Message().AlarmSec = "99";
    sheet.Protocol().UserAgentSelection = 0;
    // A line break would start a header of its own in every request.
    sheet.Protocol().UserDefinedAgent = "MyAgent/1\r\nX-Injected: 1";
    ASSERT_TRUE(sheet.Ok());
    EXPECT_TRUE(questions.asked.empty());

    EXPECT_EQ(Value("General", "MinAtStart"), "1");
    EXPECT_EQ(Value("General", "MinBlock"), "0010");
    EXPECT_EQ(Value("Connection", "ConnectionTimeOut"), "45");
    EXPECT_EQ(Value("Connection", "MaxTasks"), "3");
    EXPECT_EQ(Value("Connection", "RetryLimit"), "0");
    EXPECT_EQ(Value("Connection", "RetryCounts"), "0");
    EXPECT_EQ(Value("Alarm", "Vibrative"), "0");
    EXPECT_EQ(Value("Alarm", "SoundPath"), "/snd/ding.wav");
    EXPECT_EQ(Value("Protocol", "HTTPUserAgent"), "1");
    // The user-defined text goes to the last entry whatever is selected.
    EXPECT_EQ(Value("Protocol", "HTTPUserAgent_5"), "MyAgent/1");

    const AppSettings& s = Ctx().settings;
    EXPECT_TRUE(s.MinAtStart);
    EXPECT_EQ(s.MinBlock, 10 * 1024);
    EXPECT_EQ(s.ConnectionTimeOut, 45);
    EXPECT_EQ(s.MaxTasks, 3);
    EXPECT_EQ(s.AlarmSec, 99);
    EXPECT_EQ(s.UserAgent, "");

    Sheet again(Ctx(), questions);
    EXPECT_EQ(again.General().MinBlock, "0010");
    EXPECT_EQ(again.Protocol().UserDefinedAgent, "MyAgent/1");
    again.Protocol().UserAgentSelection = 4;
    ASSERT_TRUE(again.Ok());
    EXPECT_EQ(s.UserAgent, "MyAgent/1");
}

TEST_F(SettingSheetTest, AnotherLanguageIsWrittenAndSpeaksAtOnce) {
    test::WriteFile(root.Path("Lang/CHS"),
                    Utf16LeFileBytes("[Lang]\r\nLanguage=Chinese\r\nAppTitle=Vardane-CHS\r\n"
                                     "Msg_RestartConfirm=restart-CHS\r\n"
                                     "SettingDlg_Tab_Proxy=Proxy-CHS\r\n"));
    const std::string hklm = test::ReadFile(root.Path("Registry/HKLM.reg"));
    Sheet same(Ctx(), questions);
    EXPECT_EQ(same.General().Languages, (std::vector<std::string>{"English", "Chinese", ""}));
    EXPECT_EQ(same.General().LanguageSelection, 0);
    EXPECT_EQ(same.TabLabel(Sheet::kPageProxy), "Proxy");
    // The current language again: nothing written, nothing said.
    ASSERT_TRUE(same.Ok());
    EXPECT_TRUE(questions.asked.empty());
    EXPECT_EQ(test::ReadFile(root.Path("Registry/HKLM.reg")), hklm);

    Sheet sheet(Ctx(), questions);
    sheet.General().LanguageSelection = 1;
    ASSERT_TRUE(sheet.Ok());
    ASSERT_EQ(questions.asked.size(), 1u);
    EXPECT_EQ(questions.asked[0].Text, "restart-CHS");
    EXPECT_EQ(questions.asked[0].Caption, "Vardane-CHS");
    EXPECT_EQ(questions.asked[0].Icon, QuestionIcon::Exclamation);
    EXPECT_EQ(questions.asked[0].Buttons, QuestionButtons::Ok);
    RegistryKey key(Ctx().registry);
    key.Open(RegRoot::LocalMachine, kVardaneKey, false);
    EXPECT_EQ(key.QueryString("CurrentLang"), "CHS");
    EXPECT_EQ(Ctx().settings.CurrentLang, "CHS");

    // The open sheet keeps its texts; a new one speaks the new language.
    EXPECT_EQ(sheet.TabLabel(Sheet::kPageProxy), "Proxy");
    Sheet next(Ctx(), questions);
    EXPECT_EQ(next.TabLabel(Sheet::kPageProxy), "Proxy-CHS");
    EXPECT_EQ(next.General().LanguageSelection, 1);
}

TEST_F(SettingSheetTest, ProxyEditsReachTheStoreOnlyWithOk) {
    Sheet cancelled(Ctx(), questions);
    ASSERT_EQ(cancelled.Proxy().Rows.size(), 5u);
    EXPECT_FALSE(cancelled.OnEditProxy([](EdtProxyDlg&) { ADD_FAILURE() << "no row selected"; }));
    ASSERT_TRUE(EditProxy(cancelled, 2, [](EdtProxyDlg& dlg) {
        dlg.SetServer("proxy.local");
        dlg.SetPortText("80x80");
    }));
    EXPECT_EQ(Sheet::ProxyColumn(cancelled.Proxy().Rows[2], 1), "proxy.local");
    EXPECT_EQ(Sheet::ProxyColumn(cancelled.Proxy().Rows[2], 2), "8080");
    EXPECT_EQ(Sheet::ProxyColumn(cancelled.Proxy().Rows[2], 0), "HTTP Get");
    cancelled.Cancel();
    EXPECT_EQ(Value("Proxy", "Proxy_3"), "2,1,Http Get,,,,,");

    Sheet sheet(Ctx(), questions);
    ASSERT_TRUE(EditProxy(sheet, 2, [](EdtProxyDlg& dlg) {
        dlg.SetName("Office");
        dlg.SetServer("10.0.0.1");
        dlg.SetPortText("3128");
        dlg.SetPASV(false);
        dlg.SetAuthenticate(true);
        dlg.SetUser("me");
        dlg.SetPassword("p,w");  // the password may hold commas
    }));
    ASSERT_TRUE(sheet.Ok());
    EXPECT_EQ(Value("Proxy", "Proxy_3"), "2,0,Office,10.0.0.1,3128,1,me,p,w");
    EXPECT_EQ(Value("Proxy", "Proxy_1"), "0,1,Direct Connection,,0,0,,");
    EXPECT_EQ(Value("Proxy", "ProxyCnt"), "5");
}

TEST_F(SettingSheetTest, ProxyDialogRefusesAnIncompleteRecordInOrder) {
    Sheet sheet(Ctx(), questions);
    EdtProxyDlg dlg(Ctx(), questions, sheet.Proxy().Rows[1], 1);
    EXPECT_TRUE(dlg.ServerEnabled());
    EXPECT_FALSE(dlg.LoginEnabled());
    const auto expectRefusal = [&](const char* text, const char* field) {
        questions.asked.clear();
        EXPECT_FALSE(dlg.Ok());
        ASSERT_EQ(questions.asked.size(), 1u);
        EXPECT_EQ(questions.asked[0].Text, text);
        EXPECT_EQ(questions.asked[0].Icon, QuestionIcon::Error);
        EXPECT_EQ(dlg.FocusField(), field);
    };
    dlg.SetName("");
    expectRefusal("Proxy name?", EdtProxyDlg::kFieldName);
    // A comma outside the password would shift the stored fields.
    dlg.SetName("a,b");
    expectRefusal("Proxy name?", EdtProxyDlg::kFieldName);
    dlg.SetName("Tunnel");
    expectRefusal("Proxy server?", EdtProxyDlg::kFieldServer);
    dlg.SetServer("127.0.0.1");
    dlg.SetPortText("");
    expectRefusal("Proxy port?", EdtProxyDlg::kFieldPort);
    dlg.SetPortText("70000");
    expectRefusal("Proxy port?", EdtProxyDlg::kFieldPort);
    dlg.SetPortText("8080");
    dlg.SetAuthenticate(true);
    EXPECT_TRUE(dlg.LoginEnabled());
    dlg.SetUser("u");
    expectRefusal("Proxy login?", EdtProxyDlg::kFieldUser);
    dlg.SetPassword("p");
    EXPECT_FALSE(dlg.Accepted());
    EXPECT_EQ(Value("Default", "ProxyFTP"), "1");
    dlg.SetFtpDefault(true);
    EXPECT_TRUE(dlg.Ok());
    EXPECT_TRUE(dlg.Accepted());
    // "FTP Default" is written at once, before the sheet's OK.
    EXPECT_EQ(Value("Default", "ProxyFTP"), "2");

    // A direct connection needs no server, port or login.
    EdtProxyDlg direct(Ctx(), questions, sheet.Proxy().Rows[0], 0);
    EXPECT_FALSE(direct.ServerEnabled());
    EXPECT_TRUE(direct.Ok());
    EXPECT_EQ(FormatProxyRecord(direct.Record()), "0,1,Direct Connection,,0,0,,");

    // HTTP GET cannot carry FTP: its box is hidden and stays unchecked.
    EdtProxyDlg get(Ctx(), questions, sheet.Proxy().Rows[2], 2);
    EXPECT_FALSE(get.FtpDefaultShown());
    get.SetFtpDefault(true);
    EXPECT_FALSE(get.FtpDefault());
}

}  // namespace
}  // namespace vardane
