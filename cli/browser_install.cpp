#include "cli/browser_install.h"

#include <nlohmann/json.hpp>

#include "cli/native_host.h"
#include "platform/file.h"

namespace vardane {

namespace {

using Json = nlohmann::json;

std::string ManifestText(const std::string& hostPath, const char* allowKey,
                         const std::string& allowed) {
    Json manifest = {
        {"name", std::string(kNativeHostName)},
        {"description", "Vardane download manager"},
        {"path", hostPath},
        {"type", "stdio"},
        {allowKey, Json::array({allowed})},
    };
    return manifest.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

}  // namespace

std::vector<HostManifest> HostManifests(const std::string& hostPath, bool user,
                                        const std::string& home) {
    const std::string file = std::string(kNativeHostName) + ".json";
    const std::string base = WithTrailingSlash(home);
    const std::string firefox = user ? base + ".mozilla/native-messaging-hosts/"
                                     : "/usr/lib/mozilla/native-messaging-hosts/";
    const std::string chromium = user ? base + ".config/chromium/NativeMessagingHosts/"
                                      : "/etc/chromium/native-messaging-hosts/";
    return {
        {firefox + file,
         ManifestText(hostPath, "allowed_extensions", std::string(kFirefoxExtensionId))},
        {chromium + file,
         ManifestText(hostPath, "allowed_origins",
                      "chrome-extension://" + std::string(kChromiumExtensionId) + "/")},
    };
}

}  // namespace vardane
