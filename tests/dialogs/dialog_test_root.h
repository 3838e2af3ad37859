// A started-up data root for the window model tests: a small English
// language file, the settings and default categories written, and a scripted
// IQuestions that records every question and answers from a queue.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "dialogs/question.h"
#include "platform/data_root.h"
#include "platform/utf16.h"
#include "settings/app_context.h"
#include "settings/settings_startup.h"
#include "tests/support/temp_dir.h"

namespace vardane::test {

class ScriptedQuestions : public IQuestions {
  public:
    // Answers given in order; the question's default once they run out.
    std::deque<QuestionAnswer> answers;
    std::vector<Question> asked;

    QuestionAnswer Ask(const Question& question) override {
        asked.push_back(question);
        if (answers.empty()) {
            return question.Default;
        }
        const QuestionAnswer answer = answers.front();
        answers.pop_front();
        return answer;
    }
};

inline const std::vector<std::string>& TestLangLines() {
    static const std::vector<std::string> lines = {
        "[Lang]",
        "Language=English",
        "AppTitle=Vardane",
        "MainDlg_Folder_Downloading=Downloading",
        "MainDlg_Folder_Completed=Completed",
        "MainDlg_Folder_Deleted=Deleted",
        "MainDlg_Folder_Music=Music",
        "MainDlg_Folder_Video=Video",
        "MainDlg_Folder_Soft=Software",
        "MainDlg_Folder_eBook=eBook",
        "MainDlg_Folder_Others=Others",
        "MainDlg_Folder_New=New category",
        "MainDlg_Folder_Edit=Rename category",
        "MainDlg_Folder_Delete=Delete category",
        "Msg_CatExists=already exists.",
        "Msg_DelCatConfirm1=Delete the category",
        "Msg_DelCatConfirm2=and all categories below it?",
        "Msg_InputCatName=Please enter a category name.",
        "Msg_InvalidURL=The address is not valid.",
        "Msg_TaskExists=This address is already in the download list.",
        "Msg_StopBeforeEdit=Stop the task before you edit it.",
        "EdtTaskDlg_InvalidUID=Please enter the user name.",
        "EdtTaskDlg_InvalidPwd=Please enter the password.",
        "EdtTaskDlg_URL=Address",
        "EdtCatDlg_CatName=Name",
        "BrowseDlg_Caption=Browse",
        "BrowseDlg_Desp=Choose",
        "SettingDlg_Proxy_Direct=Direct",
        "SettingDlg_HTTPUserAgentNone=(none)",
        "SettingDlg_HTTPUserAgentUserDefine=Custom",
        "SettingDlg_Tab_Proxy=Proxy",
        "Msg_EnterInt_1_1024=1 to 1024",
        "Msg_EnterInt_1_90=1 to 90",
        "Msg_EnterInt_1_99=1 to 99",
        "Msg_InputProxyName=Proxy name?",
        "Msg_InputProxyServer=Proxy server?",
        "Msg_InputProxyPort=Proxy port?",
        "Msg_InputProxyAuth=Proxy login?",
    };
    return lines;
}

class DialogTestRoot {
  public:
    DialogTestRoot() : ctx_(MakeRoot(dir_)) { RunSettingsStartup(ctx_); }

    AppContext& Ctx() { return ctx_; }
    const std::string& AppDir() const { return dir_.Path(); }
    std::string Path(const std::string& name) const { return dir_ / name; }

  private:
    static DataRoot MakeRoot(const TempDir& dir) {
        std::string text;
        for (const std::string& line : TestLangLines()) {
            text += line + "\r\n";
        }
        WriteFile(dir / "Lang/Eng", Utf16LeFileBytes(text));
        MakeDirectoryOf(dir / "Tasks/");
        return DataRoot{dir.Path(), dir.Path() + "vardane"};
    }
    static void MakeDirectoryOf(const std::string& path) { WriteFile(path + ".keep", ""); }

    TempDir dir_{"vardane-dialogs"};
    AppContext ctx_;
};

}  // namespace vardane::test
