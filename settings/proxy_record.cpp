#include "settings/proxy_record.h"

#include "lang/lang_table.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "settings/app_context.h"
#include "settings/registry_paths.h"
#include "settings/setting_value.h"

namespace vardane {

namespace {

// Takes the text up to the next comma and moves rest behind it. Without a
// comma the field is empty and rest stays as it is.
std::string TakeField(std::string_view& rest) {
    size_t comma = rest.find(',');
    if (comma == std::string_view::npos) {
        return {};
    }
    std::string field(rest.substr(0, comma));
    rest.remove_prefix(comma + 1);
    return field;
}

}  // namespace

std::string ProxyTypeName(int type, const LangTable& lang) {
    switch (type) {
        case 0:
            return lang.GetLangText("SettingDlg_Proxy_Direct");
        case 1:
            return "HTTP Connect";
        case 2:
            return "HTTP Get";
        case 3:
            return "Socks4";
        case 4:
            return "Socks5";
        default:
            return {};
    }
}

ProxyRecord ParseProxyRecord(std::string_view text, const LangTable& lang) {
    ProxyRecord record;
    std::string_view rest = text;
    record.Type = SettingInt(TakeField(rest));
    record.PASV = SettingFlag(TakeField(rest));
    record.Name = TakeField(rest);
    record.Server = TakeField(rest);
    record.Port = SettingInt(TakeField(rest));
    record.Authenticate = SettingFlag(TakeField(rest));
    record.User = TakeField(rest);
    record.Password = std::string(rest);
    record.TypeName = ProxyTypeName(record.Type, lang);
    return record;
}

std::string FormatProxyRecord(const ProxyRecord& record) {
    std::string text = IntToText(record.Type);
    text += ",";
    text += FlagText(record.PASV);
    text += ",";
    text += record.Name + "," + record.Server + "," + IntToText(record.Port);
    text += ",";
    text += FlagText(record.Authenticate);
    text += ",";
    text += record.User + "," + record.Password;
    return text;
}

ProxyRecord LoadProxyRecord(AppContext& ctx, int n) {
    RegistryKey key(ctx.registry);
    std::string text;
    if (key.Open(RegRoot::CurrentUser, GroupKeyPath("Proxy"), false)) {
        text = key.QueryString("Proxy_" + IntToText(n));
    }
    return ParseProxyRecord(text, ctx.lang);
}

}  // namespace vardane
