// The shipped language files: encoding, line ends, the display name and every
// key of the program exactly once.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "lang/lang_table.h"
#include "lang/profile_value.h"
#include "platform/file.h"
#include "platform/utf16.h"

namespace vardane {
namespace {

const std::set<std::string> kKeys = {
    "Menu_Main_Ctrl",
    "Menu_Main_Delete",
    "Menu_Main_DeleteAll",
    "Menu_Main_Exit",
    "Menu_Main_File",
    "Menu_Main_Import",
    "Menu_Main_New",
    "Menu_Main_OpenFile",
    "Menu_Main_OpenFolder",
    "Menu_Main_Properties",
    "Menu_Main_ReDownload",
    "Menu_Main_SelectAll",
    "Menu_Main_Setting",
    "Menu_Main_Site",
    "Menu_Main_Start",
    "Menu_Main_StartAll",
    "Menu_Main_Stop",
    "Menu_Main_StopAll",
    "Menu_SiteExp_ClipBrd",
    "Menu_SiteExp_Ctrl",
    "Menu_SiteExp_Download",
    "Menu_SiteExp_Exit",
    "Menu_SiteExp_Folders",
    "Menu_SiteExp_Refresh",
    "Menu_SiteExp_SelAll",
    "Menu_SiteExp_Site_Del",
    "Menu_SiteExp_Site_Edt",
    "Menu_SiteExp_Site_Go",
    "Menu_SiteExp_Site_New",
    "Menu_SiteExp_Sites",
    "Menu_SiteExp_Tab_Files",
    "Menu_SiteExp_Tab_Log",
    "Menu_SiteExp_Up",
    "Menu_General_Ok",
    "Menu_General_Cancel",
    "MainDlg_FileCount1",
    "MainDlg_FileCount2",
    "MainDlg_Log",
    "MainDlg_Log_Desp",
    "MainDlg_SpeedLimit",
    "MainDlg_Folder_Completed",
    "MainDlg_Folder_Delete",
    "MainDlg_Folder_Deleted",
    "MainDlg_Folder_Downloading",
    "MainDlg_Folder_Edit",
    "MainDlg_Folder_Music",
    "MainDlg_Folder_New",
    "MainDlg_Folder_Others",
    "MainDlg_Folder_Soft",
    "MainDlg_Folder_Video",
    "MainDlg_Folder_eBook",
    "MainDlg_Tab_Log",
    "MainDlg_Tab_Tasks",
    "MainDlg_Tasks_FileName",
    "MainDlg_Tasks_FilePos",
    "MainDlg_Tasks_FileSize",
    "MainDlg_Tasks_Percent",
    "MainDlg_Tasks_Speed",
    "Log_CanNotConnect",
    "Log_RenameFailed",
    "Log_ProgressCorrupt",
    "Log_DiskFull",
    "Log_BadReply",
    "Log_Connected",
    "Log_Connecting",
    "Log_ConnectingProxy",
    "Log_CreateLocalFileFailed",
    "Log_Disconnected",
    "Log_FileNotFound",
    "Log_FileSizeChange",
    "Log_InvalidURL",
    "Log_MallocSpace",
    "Log_NotResumeSupport",
    "Log_Redirect",
    "Log_RetryWait1",
    "Log_RetryWait2",
    "Log_StartRecv",
    "Log_TimeOut",
    "Log_TlsCertificateFailed",
    "Log_TlsEstablished",
    "Log_TlsHandshake",
    "Log_TlsHandshakeFailed",
    "Log_TlsInsecure",
    "Log_TooManyRedirects",
    "Log_TooManyRetry",
    "Log_WriteLocalFileFailed",
    "Msg_CatExists",
    "Msg_DelCatConfirm1",
    "Msg_DelCatConfirm2",
    "Msg_DeleteConfirm",
    "Msg_EnterInt_1_1024",
    "Msg_EnterInt_1_90",
    "Msg_EnterInt_1_99",
    "Msg_ImportConfirm",
    "Msg_ImportValidFilesCount",
    "Msg_InputCatName",
    "Msg_InputProxyAuth",
    "Msg_InputProxyName",
    "Msg_InputProxyPort",
    "Msg_InputProxyServer",
    "Msg_InvalidSiteName",
    "Msg_InvalidURL",
    "Msg_ReDownloadConfirm",
    "Msg_RestartConfirm",
    "Msg_SiteDelConf",
    "Msg_StopBeforeEdit",
    "Msg_TaskExists",
    "EdtTaskDlg_Block",
    "EdtTaskDlg_Cat",
    "EdtTaskDlg_Default",
    "EdtTaskDlg_Immediately",
    "EdtTaskDlg_InvalidPwd",
    "EdtTaskDlg_InvalidUID",
    "EdtTaskDlg_Login",
    "EdtTaskDlg_Manual",
    "EdtTaskDlg_Proxy",
    "EdtTaskDlg_Pwd",
    "EdtTaskDlg_Rename",
    "EdtTaskDlg_SaveTo",
    "EdtTaskDlg_Start",
    "EdtTaskDlg_URL",
    "EdtTaskDlg_Uid",
    "EdtSite_InvalidPwd",
    "EdtSite_InvalidUID",
    "EdtSite_Login",
    "EdtSite_Name",
    "EdtSite_Pwd",
    "EdtSite_URL",
    "EdtSite_Uid",
    "EdtCatDlg_CatName",
    "BrowseDlg_Caption",
    "BrowseDlg_Desp",
    "SettingDlg_AlarmPlaySound",
    "SettingDlg_AlarmScreenNotify",
    "SettingDlg_AlarmSec",
    "SettingDlg_AlarmVibrative",
    "SettingDlg_ConnectionTimeOut",
    "SettingDlg_DownloadAtStart",
    "SettingDlg_HTTP",
    "SettingDlg_HTTPEnableCookies",
    "SettingDlg_HTTPSendReferer",
    "SettingDlg_HTTPUserAgent",
    "SettingDlg_HTTPUserAgentNone",
    "SettingDlg_HTTPUserAgentUserDefine",
    "SettingDlg_IELinkToClp",
    "SettingDlg_Lang",
    "SettingDlg_Limit",
    "SettingDlg_MaxTasks",
    "SettingDlg_Message",
    "SettingDlg_MinAtStart",
    "SettingDlg_MinBlock",
    "SettingDlg_PASV",
    "SettingDlg_Pxoxy_Edit",
    "SettingDlg_RetryDelay",
    "SettingDlg_RetryTimes",
    "SettingDlg_Seconds",
    "SettingDlg_TimeOut",
    "SettingDlg_ToIE",
    "SettingDlg_Tab_Connection",
    "SettingDlg_Tab_General",
    "SettingDlg_Tab_Message",
    "SettingDlg_Tab_Protocol",
    "SettingDlg_Tab_Proxy",
    "SettingDlg_Proxy_Direct",
    "SettingDlg_Proxy_FTPDef",
    "SettingDlg_Proxy_Login",
    "SettingDlg_Proxy_Name",
    "SettingDlg_Proxy_Port",
    "SettingDlg_Proxy_Pwd",
    "SettingDlg_Proxy_Server",
    "SettingDlg_Proxy_Type",
    "SettingDlg_Proxy_Uid",
    "SiteExp_DownloadFiles",
    "SiteExp_GogoConfirm",
    "SiteExp_Lv_Files",
    "SiteExp_Lv_Size",
    "Notify_FileCompleted",
    "Notify_Hide",
    "Notify_View",
};

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

TEST_P(LangFileTest, HoldsEveryKeyExactlyOnceAndNothingElse) {
    std::string bytes;
    ASSERT_TRUE(ReadFileBytes(Path(), bytes));
    std::map<std::string, int> seen;
    for (const std::string& line : CrLfLines(DecodeUtf16Le(bytes.substr(2)))) {
        if (line == "[Lang]") {
            continue;
        }
        size_t eq = line.find('=');
        ASSERT_NE(eq, std::string::npos) << line;
        ASSERT_GT(eq, 0u) << line;
        std::string key = line.substr(0, eq);
        EXPECT_FALSE(line.substr(eq + 1).empty()) << key << " has no text";
        EXPECT_TRUE(kKeys.count(key) || key == "AppTitle" || key == "Language")
            << "unknown key " << key;
        ++seen[key];
    }
    for (const std::string& key : kKeys) {
        EXPECT_EQ(seen[key], 1) << key;
    }
    EXPECT_EQ(seen["AppTitle"], 1);
    EXPECT_EQ(seen["Language"], 1);
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

TEST_P(LangFileTest, LooksUpThroughTheLanguageTable) {
    CLangTable lang({Folder()}, GetParam().code);
    EXPECT_EQ(lang.GetAppTitle(), "Vardane");
    EXPECT_FALSE(lang.GetLangText("SettingDlg_Pxoxy_Edit").empty());
}

INSTANTIATE_TEST_SUITE_P(Shipped, LangFileTest,
                         ::testing::Values(Shipped{"Eng", "English"}, Shipped{"CHS", "简体中文"},
                                           Shipped{"CHT", "繁體中文"}),
                         [](const auto& info) { return std::string(info.param.code); });

// The 169 keys of the original vocabulary plus the lines of failures it did
// not report (Log_TooManyRedirects, Log_BadReply, Log_DiskFull,
// Log_ProgressCorrupt, Log_RenameFailed) and the five lines of https.
TEST(LangFileKeysTest, TheProgramHas179Keys) {
    EXPECT_EQ(kKeys.size(), 179u);
}

}  // namespace
}  // namespace vardane
