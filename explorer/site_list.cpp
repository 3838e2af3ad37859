#include "explorer/site_list.h"

#include "platform/registry.h"
#include "platform/text.h"
#include "settings/app_context.h"
#include "settings/registry_paths.h"
#include "task/url.h"

namespace vardane {

namespace {

constexpr std::string_view kScheme = "ftp://";

std::string SitesKey() {
    return GroupKeyPath("Sites");
}

std::string SiteKey(int number) {
    return SitesKey() + "\\Site_" + IntToText(number);
}

std::string Trimmed(std::string_view text) {
    const size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) {
        return {};
    }
    const size_t last = text.find_last_not_of(" \t\r\n");
    return std::string(text.substr(first, last - first + 1));
}

// The site name becomes a folder below the download folder: it must be one
// plain path component.
bool IsValidSiteName(std::string_view name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of("/\\") == std::string_view::npos && !HasControlCharacter(name);
}

}  // namespace

bool ParseSiteUrl(std::string_view address, SiteAddress& site, bool passwordOptional) {
    UrlParts p;
    if (!StartsWithNoCase(address, kScheme) || !SplitUrl(address, p)) {
        return false;
    }
    if (p.UserInfo) {
        const bool userOnly = passwordOptional && !p.User.empty();
        if (!userOnly && (p.User.empty() || p.Password.empty())) {
            return false;
        }
    }
    if (p.Tail.empty() || p.Tail.front() != '/') {
        return false;
    }
    site = SiteAddress{std::string(kScheme), p.User, p.Password, p.Host, p.Port, p.Tail};
    return true;
}

std::string SiteOrigin(const SiteAddress& site) {
    return BuildUrl(kScheme, site.user, site.password, site.host, site.port, "");
}

std::string EntryUrl(const SiteAddress& site, std::string_view folderPath, std::string_view name,
                     bool isFolder) {
    std::string path(folderPath);
    if (!path.ends_with('/')) {
        path += '/';
    }
    path += name;
    if (isFolder && !path.ends_with('/')) {
        path += '/';
    }
    return SiteOrigin(site) + EncodeUrlPath(path);
}

std::vector<SiteEntry> LoadSites(AppContext& ctx) {
    std::vector<SiteEntry> sites;
    RegistryKey key(ctx.registry);
    if (!key.Open(RegRoot::CurrentUser, SitesKey(), false)) {
        return sites;
    }
    const int count = key.SubKeyCount();
    for (int n = 1; n <= count; ++n) {
        RegistryKey site(ctx.registry);
        SiteEntry entry;
        if (site.Open(RegRoot::CurrentUser, SiteKey(n), false)) {
            entry.Name = site.QueryString("Name");
            entry.Url = site.QueryString("Url");
        }
        sites.push_back(std::move(entry));
    }
    return sites;
}

void WriteSite(AppContext& ctx, int number, const SiteEntry& site) {
    RegistryKey key(ctx.registry);
    if (key.Open(RegRoot::CurrentUser, SiteKey(number), true)) {
        RegistryStore& store = ctx.registry.Store(RegRoot::CurrentUser);
        store.BeginBatch();
        key.SetString("Name", site.Name);
        key.SetString("Url", site.Url);
        store.EndBatch();
    }
}

bool DeleteSite(AppContext& ctx, int number) {
    std::vector<SiteEntry> sites = LoadSites(ctx);
    if (number < 1 || number > static_cast<int>(sites.size())) {
        return false;
    }
    sites.erase(sites.begin() + (number - 1));
    // One write of the store: a crash leaves the old list or the new one.
    RegistryStore& store = ctx.registry.Store(RegRoot::CurrentUser);
    store.BeginBatch();
    RegistryKey::DeleteKey(ctx.registry, RegRoot::CurrentUser, SitesKey());
    for (size_t i = 0; i < sites.size(); ++i) {
        WriteSite(ctx, static_cast<int>(i) + 1, sites[i]);
    }
    store.EndBatch();
    return true;
}

int FindSite(const std::vector<SiteEntry>& sites, std::string_view name) {
    for (size_t i = 0; i < sites.size(); ++i) {
        if (EqualsNoCase(sites[i].Name, name)) {
            return static_cast<int>(i) + 1;
        }
    }
    return 0;
}

SiteDialogFields OpenSiteDialog(AppContext& ctx, int number, std::string_view clipboard) {
    SiteDialogFields fields;
    if (number != -1) {
        const std::vector<SiteEntry> sites = LoadSites(ctx);
        if (number >= 1 && number <= static_cast<int>(sites.size())) {
            fields.Name = sites[static_cast<size_t>(number - 1)].Name;
            fields.Url = sites[static_cast<size_t>(number - 1)].Url;
        }
    } else {
        fields.Url = clipboard.empty() ? std::string(kScheme) : std::string(clipboard);
    }
    SiteAddress site;
    if (!fields.Url.empty() && ParseSiteUrl(fields.Url, site) && !site.user.empty()) {
        fields.Login = true;
        fields.User = site.user;
        fields.Password = site.password;
    }
    return fields;
}

SiteDialogResult SaveSiteDialog(AppContext& ctx, int number, const SiteDialogFields& fields) {
    SiteDialogResult result;
    auto refuse = [&](const char* key, SiteField focus) {
        result.MessageKey = key;
        result.Focus = focus;
        return result;
    };
    const std::string name = Trimmed(fields.Name);
    if (!IsValidSiteName(name)) {
        return refuse("Msg_InvalidSiteName", SiteField::Name);
    }
    std::string url = Trimmed(fields.Url);
    if (!url.ends_with('/')) {
        url += '/';
    }
    SiteAddress site;
    if (!ParseSiteUrl(url, site)) {
        return refuse("Msg_InvalidURL", SiteField::Url);
    }
    const std::string user = fields.Login ? fields.User : std::string();
    const std::string password = fields.Login ? fields.Password : std::string();
    if (!user.empty() && password.empty()) {
        return refuse("EdtSite_InvalidPwd", SiteField::User);
    }
    if (user.empty() && !password.empty()) {
        return refuse("EdtSite_InvalidUID", SiteField::Password);
    }
    // The login is stored percent-encoded: a ':' or '@' in it reads back as
    // itself and never moves the host.
    if (HasControlCharacter(user) || HasControlCharacter(password)) {
        return refuse("Msg_InvalidURL", fields.Login ? SiteField::User : SiteField::Url);
    }
    url = WithLogin(url, user, password);
    if (number == -1) {
        number = static_cast<int>(LoadSites(ctx).size()) + 1;
    }
    result.Stored = {name, url};
    WriteSite(ctx, number, result.Stored);
    result.Saved = true;
    return result;
}

}  // namespace vardane
