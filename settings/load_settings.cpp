#include "settings/load_settings.h"

#include <mutex>

#include "platform/registry.h"
#include "settings/app_context.h"
#include "settings/registry_paths.h"
#include "settings/setting_ranges.h"
#include "settings/setting_value.h"

namespace vardane {

namespace {

// A group key opened with creation: a key that cannot be made reads as empty.
class GroupReader {
  public:
    GroupReader(AppContext& ctx, std::string_view group) : key_(ctx.registry), group_(group) {
        key_.Open(RegRoot::CurrentUser, GroupKeyPath(group), true);
    }
    std::string Text(std::string_view name) const { return key_.QueryString(name); }
    // Clamped to the value's range: a MaxTasks of 0 would make every task
    // wait forever.
    int Int(std::string_view name) const {
        return ClampSetting(group_, name, SettingInt(Text(name)));
    }
    bool Flag(std::string_view name) const { return SettingFlag(Text(name)); }

  private:
    RegistryKey key_;
    std::string group_;
};

void LoadGeneral(AppContext& ctx) {
    GroupReader g(ctx, "General");
    AppSettings& s = ctx.settings;
    s.MinAtStart = g.Flag("MinAtStart");
    s.DownloadAtStart = g.Flag("DownloadAtStart");
    s.MinBlock = int64_t{g.Int("MinBlock")} * 1024;  // stored in KB
    s.MonitorIE = g.Flag("MonitorIE");
    s.LinkToClipBoard = g.Flag("LinkToClipBoard");
    s.CloseToTray = g.Flag("CloseToTray");
}

void LoadConnection(AppContext& ctx) {
    GroupReader g(ctx, "Connection");
    AppSettings& s = ctx.settings;
    s.ConnectionTimeOut = g.Int("ConnectionTimeOut");
    s.RetryWaitSec = g.Int("RetryWaitSec");
    s.MaxTasks = g.Int("MaxTasks");
    s.RetryLimit = g.Flag("RetryLimit");
    s.RetryCounts = g.Int("RetryCounts");
}

void LoadAlarm(AppContext& ctx) {
    GroupReader g(ctx, "Alarm");
    AppSettings& s = ctx.settings;
    s.Vibrative = g.Flag("Vibrative");
    s.PlaySound = g.Flag("PlaySound");
    s.SoundPath = g.Text("SoundPath");
    s.ScreenNotify = g.Flag("ScreenNotify");
    s.AlarmSec = g.Int("AlarmSec");
}

// The selected entry is named by the text of HTTPUserAgent; a number outside
// 1..HTTPUserAgentCount selects no entry, so no User-Agent is sent.
std::string SelectedUserAgent(const GroupReader& g) {
    std::string number = g.Text("HTTPUserAgent");
    int64_t n = TextToInt(number);
    if (n < 1 || n > TextToInt(g.Text("HTTPUserAgentCount"))) {
        return {};
    }
    return UserAgentFromEntry(g.Text("HTTPUserAgent_" + number));
}

void LoadProtocol(AppContext& ctx) {
    GroupReader g(ctx, "Protocol");
    AppSettings& s = ctx.settings;
    s.HTTPSendReferer = g.Flag("HTTPSendReferer");
    s.HTTPEnableCookies = g.Flag("HTTPEnableCookies");
    s.UserAgent = SelectedUserAgent(g);
    s.CookieFile = g.Text("CookieFile");
    s.CAFile = g.Text("CAFile");
    s.RefuseHttpsDowngrade = g.Flag("RefuseHttpsDowngrade");
}

void LoadCurrentLang(AppContext& ctx) {
    RegistryKey key(ctx.registry);
    key.Open(RegRoot::LocalMachine, kVardaneKey, true);
    ctx.settings.CurrentLang = key.QueryString("CurrentLang");
    if (ctx.lang.Current() != ctx.settings.CurrentLang) {
        ctx.lang.SetCurrent(ctx.settings.CurrentLang);
    }
}

void LoadDefault(AppContext& ctx) {
    GroupReader g(ctx, "Default");
    AppSettings& s = ctx.settings;
    s.DownloadFolder = g.Text("DownloadFolder");
    s.DownloadImmediately = g.Flag("DownloadImmediately");
    s.ThreadCnt = g.Int("ThreadCnt");
    s.ProxyHTTP = g.Int("ProxyHTTP");
    s.ProxyFTP = g.Int("ProxyFTP");
}

}  // namespace

void LoadSettings(AppContext& ctx) {
    std::lock_guard lock(ctx.SpeedLock);
    LoadGeneral(ctx);
    LoadConnection(ctx);
    LoadAlarm(ctx);
    LoadProtocol(ctx);
    LoadCurrentLang(ctx);
    LoadDefault(ctx);
    ctx.settings.SpeedLimitText = ctx.lang.GetLangText("MainDlg_SpeedLimit");
}

std::string UserAgentFromEntry(std::string_view entry) {
    size_t comma = entry.find(',');
    return std::string(comma == std::string_view::npos || comma == 0 ? entry
                                                                     : entry.substr(comma + 1));
}

std::string UserAgentDisplayName(std::string_view entry) {
    size_t comma = entry.find(',');
    return std::string(comma == std::string_view::npos || comma == 0 ? entry
                                                                     : entry.substr(0, comma));
}

}  // namespace vardane
