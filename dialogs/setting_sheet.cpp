#include "dialogs/setting_sheet.h"

#include <algorithm>
#include <array>

#include "dialogs/message_box.h"
#include "lang/language_list.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "settings/app_context.h"
#include "settings/load_settings.h"
#include "settings/registry_paths.h"
#include "settings/setting_ranges.h"
#include "settings/setting_value.h"

namespace vardane {

namespace {

constexpr std::array<const char*, SettingDlgSheet::kPageCount> kTabKeys = {
    "SettingDlg_Tab_General", "SettingDlg_Tab_Connection", "SettingDlg_Tab_Message",
    "SettingDlg_Tab_Protocol", "SettingDlg_Tab_Proxy"};

// Every label the sheet and its pages show.
constexpr const char* kLabelKeys[] = {
    "SettingDlg_MinAtStart",
    "SettingDlg_DownloadAtStart",
    "SettingDlg_MinBlock",
    "SettingDlg_ToIE",
    "SettingDlg_IELinkToClp",
    "SettingDlg_CloseToTray",
    "SettingDlg_Lang",
    "SettingDlg_TimeOut",
    "SettingDlg_ConnectionTimeOut",
    "SettingDlg_RetryDelay",
    "SettingDlg_Seconds",
    "SettingDlg_Limit",
    "SettingDlg_MaxTasks",
    "SettingDlg_RetryTimes",
    "SettingDlg_Message",
    "SettingDlg_AlarmVibrative",
    "SettingDlg_AlarmPlaySound",
    "SettingDlg_AlarmScreenNotify",
    "SettingDlg_AlarmSec",
    "SettingDlg_HTTP",
    "SettingDlg_HTTPSendReferer",
    "SettingDlg_HTTPUserAgent",
    "SettingDlg_HTTPUserAgentUserDefine",
    "SettingDlg_HTTPEnableCookies",
    "SettingDlg_Pxoxy_Edit",
    "SettingDlg_Proxy_Type",
    "SettingDlg_Proxy_Server",
    "SettingDlg_Proxy_Port",
    "SettingDlg_Proxy_Name",
    "Menu_General_Ok",
    "Menu_General_Cancel",
};

// A hand-edited count cannot make a list unbounded.
constexpr int kMaxEntries = 1000;

// A group key opened without being created: a missing key loses its writes.
class GroupWriter {
  public:
    GroupWriter(AppContext& ctx, std::string_view group) : key_(ctx.registry) {
        key_.Open(RegRoot::CurrentUser, GroupKeyPath(group), false);
    }
    void Text(std::string_view name, std::string_view value) {
        if (key_.IsOpen()) {
            key_.SetString(name, value);
        }
    }
    void Flag(std::string_view name, bool value) { Text(name, FlagText(value)); }
    void Number(std::string_view name, int64_t value) { Text(name, IntToText(value)); }

  private:
    RegistryKey key_;
};

// Writes of one OK reach the store file once.
class StoreBatch {
  public:
    explicit StoreBatch(RegistryStore& store) : store_(store) { store_.BeginBatch(); }
    ~StoreBatch() { store_.EndBatch(); }
    StoreBatch(const StoreBatch&) = delete;
    StoreBatch& operator=(const StoreBatch&) = delete;

  private:
    RegistryStore& store_;
};

// A number field is valid when it holds only decimal digits (leading zeros
// allowed) and its value lies in the range.
bool ValidNumber(const std::string& text, int min, int max) {
    if (text.empty() ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return false;
    }
    const size_t first = std::min(text.find_first_not_of('0'), text.size());
    if (text.size() - first > 9) {
        return false;
    }
    const int64_t value = TextToInt(std::string_view(text).substr(first));
    return value >= min && value <= max;
}

// The user-defined agent goes into a request header as it stands: a line
// break would end the header and start another one of the text's choosing.
std::string_view FirstLine(std::string_view text) {
    return text.substr(0, text.find_first_of("\r\n"));
}

// At most max bytes of UTF-8 text, cut before a character, not inside one.
std::string CutText(std::string text, size_t max) {
    if (text.size() > max) {
        size_t end = max;
        while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) {
            --end;
        }
        text.resize(end);
    }
    return text;
}

}  // namespace

SettingDlgSheet::SettingDlgSheet(AppContext& ctx, IQuestions& questions)
    : ctx_(ctx), questions_(questions) {
    InitLabels();
    InitGeneral();
    InitConnection();
    InitMessage();
    InitProtocol();
    InitProxy();
}

void SettingDlgSheet::InitLabels() {
    title_ = ctx_.lang.GetAppTitle();
    for (const char* key : kTabKeys) {
        // Tab texts are cut at 1023 characters.
        labels_[key] = CutText(ctx_.lang.GetLangText(key), 1023);
    }
    for (const char* key : kLabelKeys) {
        labels_[key] = ctx_.lang.GetLangText(key);
    }
}

const std::string& SettingDlgSheet::TabLabel(int page) const {
    static const std::string kNone;
    return page >= 0 && page < kPageCount ? Label(kTabKeys[page]) : kNone;
}

const std::string& SettingDlgSheet::Label(std::string_view key) const {
    static const std::string kNone;
    auto it = labels_.find(key);
    return it == labels_.end() ? kNone : it->second;
}

void SettingDlgSheet::InitGeneral() {
    const AppSettings& s = ctx_.settings;
    general_.MinAtStart = s.MinAtStart;
    general_.DownloadAtStart = s.DownloadAtStart;
    RegistryKey key(ctx_.registry);
    key.Open(RegRoot::CurrentUser, GroupKeyPath("General"), false);
    general_.MinBlock = key.QueryString("MinBlock");
    general_.MonitorIE = s.MonitorIE;
    general_.LinkToClipBoard = s.LinkToClipBoard;
    general_.CloseToTray = s.CloseToTray;
    const std::vector<LanguageEntry> languages = LanguageList(ctx_.registry, ctx_.lang);
    for (const LanguageEntry& entry : languages) {
        if (entry.IsCurrent && general_.LanguageSelection < 0) {
            general_.LanguageSelection = static_cast<int>(general_.Languages.size());
        }
        general_.Languages.push_back(entry.DisplayName);
    }
    if (general_.LanguageSelection < 0 && !languages.empty()) {
        general_.LanguageSelection = 0;
    }
}

const std::vector<std::string>& SettingDlgSheet::MaxTasksEntries() {
    static const std::vector<std::string> entries = {"1", "2", "3", "4"};
    return entries;
}

void SettingDlgSheet::InitConnection() {
    const AppSettings& s = ctx_.settings;
    connection_.ConnectionTimeOut = IntToText(s.ConnectionTimeOut);
    connection_.RetryWaitSec = IntToText(s.RetryWaitSec);
    connection_.MaxTasksSelection = std::clamp(s.MaxTasks, 1, 4) - 1;
    connection_.RetryLimit = s.RetryLimit;
    connection_.RetryCounts = IntToText(s.RetryCounts);
}

void SettingDlgSheet::InitMessage() {
    const AppSettings& s = ctx_.settings;
    message_.Vibrative = s.Vibrative;
    message_.PlaySound = s.PlaySound;
    message_.ScreenNotify = s.ScreenNotify;
    message_.SoundPath = s.SoundPath;
    message_.AlarmSec = IntToText(s.AlarmSec);
}

void SettingDlgSheet::InitProtocol() {
    protocol_.HTTPSendReferer = ctx_.settings.HTTPSendReferer;
    protocol_.HTTPEnableCookies = ctx_.settings.HTTPEnableCookies;
    RegistryKey key(ctx_.registry);
    key.Open(RegRoot::CurrentUser, GroupKeyPath("Protocol"), false);
    const int count = std::min(SettingInt(key.QueryString("HTTPUserAgentCount")), kMaxEntries);
    for (int i = 1; i <= count; ++i) {
        std::string entry;
        if (i == 1) {
            entry = ctx_.lang.GetLangText("SettingDlg_HTTPUserAgentNone");
        } else if (i == count) {
            entry = Label("SettingDlg_HTTPUserAgentUserDefine");
        } else {
            entry = UserAgentDisplayName(key.QueryString("HTTPUserAgent_" + IntToText(i)));
        }
        protocol_.UserAgents.push_back(std::move(entry));
    }
    const int selected = SettingInt(key.QueryString("HTTPUserAgent")) - 1;
    protocol_.UserAgentSelection = selected >= 0 && selected < count ? selected : -1;
    protocol_.UserDefinedAgent = key.QueryString("HTTPUserAgent_" + IntToText(count));
}

void SettingDlgSheet::InitProxy() {
    RegistryKey key(ctx_.registry);
    if (!key.Open(RegRoot::CurrentUser, GroupKeyPath("Proxy"), false)) {
        return;  // an unreadable Proxy key leaves the list empty
    }
    const int count = std::min(SettingInt(key.QueryString("ProxyCnt")), kMaxEntries);
    for (int n = 1; n <= count; ++n) {
        proxy_.Rows.push_back(
            ParseProxyRecord(key.QueryString("Proxy_" + IntToText(n)), ctx_.lang));
    }
}

std::string SettingDlgSheet::ProxyColumn(const ProxyRecord& row, int column) {
    switch (column) {
        case 0:
            return row.TypeName;
        case 1:
            return row.Server;
        case 2:
            return IntToText(row.Port);
        case 3:
            return row.Name;
        default:
            return {};
    }
}

void SettingDlgSheet::OnBrowseSound(const RunBrowseDialog& run) {
    std::string path = BrowseForPath(ctx_.lang, "*.wav;", run);
    if (!path.empty()) {
        message_.SoundPath = std::move(path);
        focusField_ = kFieldSoundPath;
    }
}

bool SettingDlgSheet::OnEditProxy(const RunProxyDialog& run) {
    const int row = proxy_.Selection;
    if (row < 0 || static_cast<size_t>(row) >= proxy_.Rows.size()) {
        return false;
    }
    EdtProxyDlg dlg(ctx_, questions_, proxy_.Rows[row], row);
    run(dlg);
    if (!dlg.Accepted()) {
        return false;
    }
    // The type and its name stay; the row number decides the stored type.
    ProxyRecord record = dlg.Record();
    record.Type = proxy_.Rows[row].Type;
    record.TypeName = proxy_.Rows[row].TypeName;
    proxy_.Rows[row] = std::move(record);
    return true;
}

void SettingDlgSheet::SetCurrentPage(int page) {
    if (page >= 0 && page < kPageCount) {
        page_ = page;
    }
}

bool SettingDlgSheet::Validate() {
    struct NumberField {
        const std::string& text;
        bool checked;
        int page;
        const char* field;
        const char* group;
        const char* message;
    };
    // The retry count is checked only while the retry limit is on.
    const NumberField fields[] = {
        {general_.MinBlock, true, kPageGeneral, kFieldMinBlock, "General", "Msg_EnterInt_1_1024"},
        {connection_.ConnectionTimeOut, true, kPageConnection, kFieldConnectionTimeOut,
         "Connection", "Msg_EnterInt_1_90"},
        {connection_.RetryWaitSec, true, kPageConnection, kFieldRetryWaitSec, "Connection",
         "Msg_EnterInt_1_90"},
        {connection_.RetryCounts, connection_.RetryLimit, kPageConnection, kFieldRetryCounts,
         "Connection", "Msg_EnterInt_1_99"},
        {message_.AlarmSec, true, kPageMessage, kFieldAlarmSec, "Alarm", "Msg_EnterInt_1_99"},
    };
    for (const NumberField& f : fields) {
        const std::optional<SettingRange> range = FindSettingRange(f.group, f.field);
        if (!f.checked || !range || ValidNumber(f.text, range->Min, range->Max)) {
            continue;
        }
        page_ = f.page;
        focusField_ = f.field;
        ShowMessage(questions_, ctx_.lang, ctx_.lang.GetLangText(f.message), QuestionIcon::Error,
                    QuestionButtons::Ok, QuestionAnswer::Ok, f.field);
        return false;
    }
    return true;
}

bool SettingDlgSheet::SaveSettings() {
    focusField_.clear();
    if (!Validate()) {
        return false;
    }
    {
        StoreBatch batch(ctx_.registry.Store(RegRoot::CurrentUser));
        WriteGeneral();
        WriteConnection();
        WriteAlarm();
    }
    // The restart notice may be shown here: no batch stays open across it.
    WriteLanguage();
    StoreBatch batch(ctx_.registry.Store(RegRoot::CurrentUser));
    WriteProtocol();
    WriteProxies();
    return true;
}

bool SettingDlgSheet::Ok() {
    if (!SaveSettings()) {
        return false;
    }
    LoadSettings(ctx_);
    accepted_ = true;
    return true;
}

void SettingDlgSheet::WriteGeneral() {
    GroupWriter g(ctx_, "General");
    g.Flag("MinAtStart", general_.MinAtStart);
    g.Flag("DownloadAtStart", general_.DownloadAtStart);
    g.Text("MinBlock", general_.MinBlock);
    g.Flag("MonitorIE", general_.MonitorIE);
    g.Flag("LinkToClipBoard", general_.LinkToClipBoard);
    g.Flag("CloseToTray", general_.CloseToTray);
}

void SettingDlgSheet::WriteConnection() {
    GroupWriter g(ctx_, "Connection");
    g.Text("ConnectionTimeOut", connection_.ConnectionTimeOut);
    g.Text("RetryWaitSec", connection_.RetryWaitSec);
    g.Number("MaxTasks", connection_.MaxTasksSelection + 1);
    g.Flag("RetryLimit", connection_.RetryLimit);
    g.Text("RetryCounts", connection_.RetryCounts);
}

void SettingDlgSheet::WriteAlarm() {
    GroupWriter g(ctx_, "Alarm");
    g.Flag("Vibrative", message_.Vibrative);
    g.Flag("PlaySound", message_.PlaySound);
    g.Flag("ScreenNotify", message_.ScreenNotify);
    g.Text("SoundPath", message_.SoundPath);
    g.Text("AlarmSec", message_.AlarmSec);
}

// A new language becomes current at once, so the restart notice and every
// later lookup already speak it; existing windows keep their texts.
void SettingDlgSheet::WriteLanguage() {
    if (general_.LanguageSelection < 0) {
        return;
    }
    RegistryKey key(ctx_.registry);
    if (!key.Open(RegRoot::CurrentUser, GroupKeyPath("Language"), false)) {
        return;
    }
    const std::string code = key.QueryString("Lang_" + IntToText(general_.LanguageSelection + 1));
    // An empty code would leave every text of the program blank.
    if (code.empty() || EqualsNoCase(code, ctx_.settings.CurrentLang)) {
        return;
    }
    ctx_.settings.CurrentLang = code;
    ctx_.lang.SetCurrent(code);
    RegistryKey root(ctx_.registry);
    root.Open(RegRoot::LocalMachine, kVardaneKey, true);
    root.SetString("CurrentLang", code);
    ShowMessage(questions_, ctx_.lang, ctx_.lang.GetLangText("Msg_RestartConfirm"),
                QuestionIcon::Exclamation);
}

void SettingDlgSheet::WriteProtocol() {
    GroupWriter g(ctx_, "Protocol");
    g.Flag("HTTPSendReferer", protocol_.HTTPSendReferer);
    g.Number("HTTPUserAgent", protocol_.UserAgentSelection + 1);
    // The user-defined text always goes to the last entry, whichever is selected.
    g.Text("HTTPUserAgent_" + IntToText(static_cast<int64_t>(protocol_.UserAgents.size())),
           FirstLine(protocol_.UserDefinedAgent));
    g.Flag("HTTPEnableCookies", protocol_.HTTPEnableCookies);
}

// Row r is stored as Proxy_<r+1> with the type r; ProxyCnt stays.
void SettingDlgSheet::WriteProxies() {
    GroupWriter g(ctx_, "Proxy");
    for (size_t r = 0; r < proxy_.Rows.size(); ++r) {
        ProxyRecord record = proxy_.Rows[r];
        record.Type = static_cast<int>(r);
        g.Text("Proxy_" + IntToText(static_cast<int64_t>(r + 1)), FormatProxyRecord(record));
    }
}

}  // namespace vardane
