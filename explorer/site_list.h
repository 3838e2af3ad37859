// The saved FTP sites: the site address parser, the list in the settings
// store (HKCU SOFTWARE\Vardane\Sites\Site_<n>, Name and Url, numbered from 1
// without gaps) and the site dialog's checks. The password lives only inside
// Url in the store (mode 0600); MaskedSiteUrl is what may be shown or logged.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "task/url.h"

namespace vardane {

struct AppContext;

// What an "ftp://[user:password@]host[:port]/..." address names (split by
// SplitUrl of task/url.h: the login is decoded, the path is as written).
struct SiteAddress {
    std::string scheme;  // "ftp://" after a successful parse
    std::string user, password;
    std::string host;
    int port = 21;
    std::string path;  // from the "/" after the host on, at least "/"
};

// Parses an FTP site address. False for another scheme, nothing after the
// scheme, a user without a password (or the reverse), no "/" after the host,
// an empty host or anything else SplitUrl refuses. With passwordOptional a user alone is taken
// (with an empty password), as a command line may give one.
bool ParseSiteUrl(std::string_view address, SiteAddress& site, bool passwordOptional = false);

// "ftp://" + the percent-encoded login + host[:port], without a path: the
// start of every address built for an entry of the site.
std::string SiteOrigin(const SiteAddress& site);

// The address of an entry named name in the folder folderPath (a plain,
// decoded server path ending with '/') of site; a folder's ends with '/'.
// Path and name are percent-encoded, so the address reads back to them.
std::string EntryUrl(const SiteAddress& site, std::string_view folderPath, std::string_view name,
                     bool isFolder);

// address as it may be shown: MaskUrlPassword (task/url.h) under the name
// the site code has used.
inline std::string MaskedSiteUrl(std::string_view address) {
    return MaskUrlPassword(address);
}

struct SiteEntry {
    std::string Name, Url;
};

// Every saved site in number order (a missing key is an empty list).
std::vector<SiteEntry> LoadSites(AppContext& ctx);
// Writes Sites\Site_<number> (1-based).
void WriteSite(AppContext& ctx, int number, const SiteEntry& site);
// Removes site number (1-based) and renumbers the rest without a gap.
// False when there is no such site.
bool DeleteSite(AppContext& ctx, int number);
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
    bool Saved = false;
    std::string MessageKey;  // the refusal's text key, empty when saved
    SiteField Focus = SiteField::None;
    SiteEntry Stored;
};

// The fields for opening the dialog on site number (-1: a new site, with
// clipboard text, or "ftp://" when there is none).
SiteDialogFields OpenSiteDialog(AppContext& ctx, int number, std::string_view clipboard = {});

// The dialog's OK: checks the fields, rebuilds the URL with the login and
// writes the site (a new one after the last). Nothing is written on a
// refusal.
SiteDialogResult SaveSiteDialog(AppContext& ctx, int number, const SiteDialogFields& fields);

}  // namespace vardane
