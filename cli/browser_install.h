// The browsers' manifests of the native messaging host: where a browser
// looks for org.vardane.host, the program it starts and the extension that
// may talk to it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vardane {

// The extension's id in Firefox (browser_specific_settings.gecko.id).
inline constexpr std::string_view kFirefoxExtensionId = "vardane@vardane.org";
// The extension's id in Chromium: the first 32 hex digits of the SHA-256 of
// the public key in extension/manifest.json ("key"), written with the
// letters a to p for 0 to f. Must follow that key.
inline constexpr std::string_view kChromiumExtensionId = "aajbiapmplaaeipldmongnbpaeabdgae";

struct HostManifest {
    std::string Path;  // file to write
    std::string Text;  // its JSON
};

// The two manifests for hostPath (the absolute path of vardane-cli): in the
// user's own folders below home (--user), else system-wide.
std::vector<HostManifest> HostManifests(const std::string& hostPath, bool user,
                                        const std::string& home);

}  // namespace vardane
