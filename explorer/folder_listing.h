// One folder listed from start to end without a window: connect, log in,
// change to the folder, list it, quit. For the command-line front end and
// tests.
#pragma once

#include <atomic>
#include <string>
#include <vector>

namespace vardane {

struct AppContext;

struct FolderListing {
    bool Ok = false;
    std::vector<std::string> lines;  // the listing lines as the server sent them
    std::string error;  // on failure: the server's refusal, else the client's last log line
};

// Lists path (an address path, %XX decoded before CWD; empty: the login
// folder) of the site address siteUrl
// ("ftp://[user:password@]host[:port]/..."). Ends at the latest when the
// client's own time-out (ConnectionTimeOut) has run out, or soon after
// cancel (when given) becomes true.
FolderListing ListFolder(AppContext& ctx, const std::string& siteUrl, const std::string& path,
                         const std::atomic<bool>* cancel = nullptr);

// The folder an "ftp://host/a/b/" address names ("/a/b/"), "/" for none.
std::string SiteUrlFolder(const std::string& url);

}  // namespace vardane
