// vardane-cli native-host: the program a browser starts for the extension.
// It reads messages on standard input and answers on standard output
// (cli/native_message.h) until the browser closes the pipe. A download or a
// page's links go to the process that owns the data root, as a command of
// another vardane-cli would; without one the host starts the window when
// there is a display, else adds the tasks itself and leaves a vardane-cli
// running them.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/data_root.h"

namespace vardane {

// The host's name in the browsers' manifests.
inline constexpr std::string_view kNativeHostName = "org.vardane.host";

// Serves the messages on in, answers on out; returns the exit status when in
// ends (0) or a termination signal arrives (signalFd, -1 for none).
int RunNativeHost(const DataRoot& root, int in, int out, int signalFd);

// A browser starts the host with arguments of its own instead of a command:
// Chromium with the calling extension's origin ("chrome-extension://ID/"),
// Firefox with the path of the host's manifest and the extension's id. True
// for such a command line.
bool IsBrowserHostLaunch(const std::vector<std::string>& args);

}  // namespace vardane
