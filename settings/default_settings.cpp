#include "settings/default_settings.h"

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "settings/app_context.h"
#include "settings/default_categories.h"
#include "settings/registry_paths.h"
#include "settings/setting_value.h"

namespace vardane {

namespace {

struct DefaultValue {
    std::string name;
    std::string value;
};

struct DefaultGroup {
    const char* group;
    std::vector<DefaultValue> values;
};

// Every group in the order the pass writes it, each value in its order.
std::vector<DefaultGroup> DefaultGroups(const std::string& appDir) {
    return {
        {"General",
         {{"MinAtStart", "0"},
          {"DownloadAtStart", "0"},
          {"MinBlock", "100"},
          {"MonitorIE", "0"},
          {"LinkToClipBoard", "0"},
          {"CloseToTray", "1"}}},
        {"Connection",
         {{"ConnectionTimeOut", "30"},
          {"RetryWaitSec", "30"},
          {"MaxTasks", "1"},
          {"RetryLimit", "0"},
          {"RetryCounts", "99"},
          {"SpeedLimit", "1"},
          {"SpeedLimitKBSec", "1024"}}},
        {"Alarm",
         {{"Vibrative", "1"},
          {"PlaySound", "1"},
          {"ScreenNotify", "1"},
          {"SoundPath", "\\Windows\\Alarm1.wav"},
          {"AlarmSec", "3"}}},
        {"Language", {{"Lang_Cnt", "3"}, {"Lang_1", "Eng"}, {"Lang_2", "CHS"}, {"Lang_3", "CHT"}}},
        {"Protocol",
         {{"HTTPSendReferer", "1"},
          {"HTTPUserAgent", "3"},
          {"HTTPUserAgentCount", "5"},
          {"HTTPUserAgent_1", ""},
          {"HTTPUserAgent_2", "Vardane,Vardane"},
          {"HTTPUserAgent_3",
           "Pocket IE 4.x,Mozilla/4.0 (compatible; MSIE 4.01; Windows CE; PPC; 240x320)"},
          {"HTTPUserAgent_4",
           "Pocket IE 6.x,Mozilla/4.0 (compatible; MSIE 6.0; Windows CE; PPC; 240x320)"},
          {"HTTPUserAgent_5", ""},
          {"HTTPEnableCookies", "1"},
          {"CookieFile", appDir + "cookies.txt"},
          {"RefuseHttpsDowngrade", "0"}}},
        {"Proxy",
         {{"ProxyCnt", "5"},
          {"Proxy_1", "0,1,Direct Connection,,0,0,,"},
          {"Proxy_2", "1,1,Http Connect,,,,,"},
          {"Proxy_3", "2,1,Http Get,,,,,"},
          {"Proxy_4", "3,1,Socks4,,,,,"},
          {"Proxy_5", "4,1,Socks5,,,,,"}}},
        {"Default",
         {{"DownloadFolder", appDir + "Download/"},
          {"DownloadImmediately", "0"},
          {"ThreadCnt", "1"},
          {"ProxyHTTP", "1"},
          {"ProxyFTP", "1"}}},
    };
}

// AppPath and CurrentLang under HKLM; the language code becomes current at
// once, so the category names below are looked up in it.
void WriteMachineDefaults(AppContext& ctx) {
    RegistryKey key(ctx.registry);
    key.Open(RegRoot::LocalMachine, kVardaneKey, true);
    if (key.QueryString("AppPath").empty()) {
        key.SetString("AppPath", ctx.settings.AppPath);
    }
    std::string code = key.QueryString("CurrentLang");
    if (code.empty()) {
        code = "Eng";
        key.SetString("CurrentLang", code);
    }
    ctx.settings.CurrentLang = code;
    ctx.lang.SetCurrent(code);
}

// The speed limit flag and value are taken into the runtime state here and
// not read again by LoadSettings. The limit is kept within what the limit
// control can show (1..1024 KB/s): a hand-edited 0 or "abc" would otherwise
// stop every download, and a huge number would overflow the byte budget.
void TakeSpeedLimitValue(AppContext& ctx, const std::string& name, const std::string& text) {
    std::lock_guard lock(ctx.SpeedLock);
    if (name == "SpeedLimit") {
        ctx.settings.SpeedLimit = SettingFlag(text);
    } else {
        ctx.SpeedLimitKB = std::clamp<int64_t>(TextToInt(text), kMinSpeedLimitKB, kMaxSpeedLimitKB);
    }
}

}  // namespace

void WriteDefaultSettings(AppContext& ctx) {
    WriteMachineDefaults(ctx);
    for (const DefaultGroup& group : DefaultGroups(ctx.settings.AppDir)) {
        RegistryKey key(ctx.registry);
        key.Open(RegRoot::CurrentUser, GroupKeyPath(group.group), true);
        for (const DefaultValue& value : group.values) {
            std::string text = key.QueryString(value.name);
            if (text.empty()) {
                text = value.value;
                key.SetString(value.name, text);
            }
            if (value.name == "SpeedLimit" || value.name == "SpeedLimitKBSec") {
                TakeSpeedLimitValue(ctx, value.name, text);
            }
        }
    }
    RegistryKey categories(ctx.registry);
    categories.Open(RegRoot::CurrentUser, kCategoriesKey, true);
    BuildDefaultCategories(ctx);
}

}  // namespace vardane
