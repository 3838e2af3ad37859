// One named proxy entry and its stored form: the registry value
// HKCU SOFTWARE\Vardane\Proxy\Proxy_<n> holds
//   Type,PASV,Name,Server,Port,Authenticate,User,Password
// where the password is the whole remainder and may contain commas.
#pragma once

#include <string>
#include <string_view>

namespace vardane {

class LangTable;
struct AppContext;

struct ProxyRecord {
    int Type = 0;  // 0 direct, 1 HTTP CONNECT, 2 HTTP GET, 3 SOCKS4, 4 SOCKS5
    bool PASV = true;
    std::string Name, Server;
    int Port = 0;
    bool Authenticate = false;
    std::string User, Password, TypeName;
};

// Display name of a proxy type: the localized SettingDlg_Proxy_Direct for 0,
// "HTTP Connect", "HTTP Get", "Socks4", "Socks5" for 1..4, "" otherwise.
std::string ProxyTypeName(int type, const LangTable& lang);

// Parses the stored form. A field with no comma left after it is empty (0 for
// a number) and the rest of the text becomes the password.
ProxyRecord ParseProxyRecord(std::string_view text, const LangTable& lang);

// The stored form of record (numbers in decimal, flags "1"/"0").
std::string FormatProxyRecord(const ProxyRecord& record);

// Reads and parses Proxy_<n>; a missing value parses as the empty text.
ProxyRecord LoadProxyRecord(AppContext& ctx, int n);

}  // namespace vardane
