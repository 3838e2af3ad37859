// The saved FTP sites: the site address parser, the list in the settings
// store (HKCU SOFTWARE\Vardane\Sites\Site_<n>, Name and Url, numbered from 1
// without gaps) and the site dialog's checks. The password lives only inside
// Url in the store (mode 0600); MaskedSiteUrl is what may be shown or logged.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vardane {

struct CAppContext;

// What an "ftp://[user:password@]host[:port]/..." address names.
struct SiteAddress {
    std::string scheme;  // "ftp://" after a successful parse
    std::string user, password;
    std::string host;
    int port = 21;
    std::string path;  // from the "/" after the host on, at least "/"
};

// Parses an FTP site address. False for another scheme, nothing after the
// scheme, a user without a password (or the reverse), no "/" after the host
// or an empty host. With bPasswordOptional a user alone is taken (with an
// empty password), as a command line may give one.
bool ParseSiteUrl(std::string_view address, SiteAddress& site, bool bPasswordOptional = false);

// address with the password between "user:" and "@" replaced by "******".
std::string MaskedSiteUrl(std::string_view address);

struct SiteEntry {
    std::string Name, Url;
};

// Every saved site in number order (a missing key is an empty list).
std::vector<SiteEntry> LoadSites(CAppContext& ctx);
// Writes Sites\Site_<number> (1-based).
void WriteSite(CAppContext& ctx, int number, const SiteEntry& site);
// Removes site number (1-based) and renumbers the rest without a gap.
// False when there is no such site.
bool DeleteSite(CAppContext& ctx, int number);
// The number of the first site named name (case ignored), 0 when none.
int FindSite(const std::vector<SiteEntry>& sites, std::string_view name);

// The site dialog: the fields as the user left them, checked and saved on
// OK. Number -1 edits a new site.
struct SiteDialogFields {
    std::string Name, Url;
    bool Login = false;
    std::string User, Password;
};

enum class SiteField { None, Name, Url, User, Password };

struct SiteDialogResult {
    bool bSaved = false;
    std::string MessageKey;  // the refusal's text key, empty when saved
    SiteField Focus = SiteField::None;
    SiteEntry Stored;
};

// The fields for opening the dialog on site number (-1: a new site, with
// clipboard text, or "ftp://" when there is none).
SiteDialogFields OpenSiteDialog(CAppContext& ctx, int number, std::string_view clipboard = {});

// The dialog's OK: checks the fields, rebuilds the URL with the login and
// writes the site (a new one after the last). Nothing is written on a
// refusal.
SiteDialogResult SaveSiteDialog(CAppContext& ctx, int number, const SiteDialogFields& fields);

}  // namespace vardane
