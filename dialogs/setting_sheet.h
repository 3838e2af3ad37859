// SettingDlgSheet: the settings sheet as a model. Five pages hold the values
// their controls show, every page filled when the sheet is made (OK reads
// them all, also those the user never opened). OK checks the number fields,
// writes every page to the settings store and reloads the settings record;
// nothing is written before OK except an accepted "FTP Default" choice of the
// proxy dialog.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "dialogs/browse_dialog.h"
#include "dialogs/edit_proxy_dialog.h"
#include "dialogs/question.h"
#include "settings/proxy_record.h"

namespace vardane {

struct AppContext;

class SettingDlgSheet {
  public:
    enum Page {
        kPageGeneral,
        kPageConnection,
        kPageMessage,
        kPageProtocol,
        kPageProxy,
        kPageCount
    };

    // Fields named in Question::FocusField after a refusal.
    static constexpr const char* kFieldMinBlock = "MinBlock";
    static constexpr const char* kFieldConnectionTimeOut = "ConnectionTimeOut";
    static constexpr const char* kFieldRetryWaitSec = "RetryWaitSec";
    static constexpr const char* kFieldRetryCounts = "RetryCounts";
    static constexpr const char* kFieldAlarmSec = "AlarmSec";
    static constexpr const char* kFieldSoundPath = "SoundPath";

    struct GeneralPage {
        bool MinAtStart = false;
        bool DownloadAtStart = false;
        std::string MinBlock;  // KB, as stored
        bool MonitorIE = false;
        bool LinkToClipBoard = false;
        bool CloseToTray = true;
        std::vector<std::string> Languages;  // display names
        int LanguageSelection = -1;
    };
    struct ConnectionPage {
        std::string ConnectionTimeOut;
        std::string RetryWaitSec;
        int MaxTasksSelection = 0;  // entries "1".."4"
        bool RetryLimit = false;    // enables the retry count
        std::string RetryCounts;
    };
    struct MessagePage {
        bool Vibrative = false;
        bool PlaySound = false;
        bool ScreenNotify = false;
        std::string SoundPath;
        std::string AlarmSec;
    };
    struct ProtocolPage {
        bool HTTPSendReferer = false;
        std::vector<std::string> UserAgents;  // combo entries
        int UserAgentSelection = -1;
        std::string UserDefinedAgent;  // always the last stored entry
        bool HTTPEnableCookies = false;
    };
    struct ProxyPage {
        std::vector<ProxyRecord> Rows;  // one per Proxy_N
        int Selection = -1;
    };

    SettingDlgSheet(AppContext& ctx, IQuestions& questions);

    // Title, tab and control labels, looked up when the sheet was made.
    const std::string& Title() const { return title_; }
    const std::string& TabLabel(int page) const;
    // Label of a language key used by the sheet ("" for any other key).
    const std::string& Label(std::string_view key) const;

    GeneralPage& General() { return general_; }
    ConnectionPage& Connection() { return connection_; }
    MessagePage& Message() { return message_; }
    ProtocolPage& Protocol() { return protocol_; }
    ProxyPage& Proxy() { return proxy_; }

    static const std::vector<std::string>& MaxTasksEntries();
    bool RetryCountsEnabled() const { return connection_.RetryLimit; }

    // Proxy list columns: 0 type name, 1 server, 2 port, 3 name.
    static std::string ProxyColumn(const ProxyRecord& row, int column);

    // The Message page's browse button: a chosen .wav file replaces the
    // sound path and takes the focus.
    void OnBrowseSound(const RunBrowseDialog& run);
    // The Proxy page's Edit button: opens the proxy dialog on the selected
    // row; an accepted record replaces the row (its type stays). False when
    // no row is selected or the dialog was cancelled.
    bool OnEditProxy(const RunProxyDialog& run);

    int CurrentPage() const { return page_; }
    void SetCurrentPage(int page);
    // Field that gets the focus (after a refusal or a browse), "" none.
    const std::string& FocusField() const { return focusField_; }

    // Checks the number fields in page order; the first invalid one brings
    // its page to the front, names its field in FocusField and is refused
    // through IQuestions: false, nothing written. Else writes every page.
    bool SaveSettings();
    // OK: SaveSettings, then LoadSettings. True when the sheet may close.
    bool Ok();
    void Cancel() { accepted_ = false; }
    bool Accepted() const { return accepted_; }

  private:
    void InitLabels();
    void InitGeneral();
    void InitConnection();
    void InitMessage();
    void InitProtocol();
    void InitProxy();
    bool Validate();
    void WriteGeneral();
    void WriteConnection();
    void WriteAlarm();
    void WriteLanguage();
    void WriteProtocol();
    void WriteProxies();

    AppContext& ctx_;
    IQuestions& questions_;
    std::string title_;
    std::map<std::string, std::string, std::less<>> labels_;
    GeneralPage general_;
    ConnectionPage connection_;
    MessagePage message_;
    ProtocolPage protocol_;
    ProxyPage proxy_;
    int page_ = kPageGeneral;
    std::string focusField_;
    bool accepted_ = false;
};

}  // namespace vardane
