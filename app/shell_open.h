// Opens a file or a folder with the desktop's handler (xdg-open), without
// waiting for it. Nothing is reported when it cannot be opened.
#pragma once

#include <string>

namespace vardane {

// The program run for ShellOpen; tests point it at a recorder.
struct ShellOpener {
    std::string Program = "xdg-open";
    // Starts Program with path as its only argument, detached; false when it
    // could not even be started.
    bool Open(const std::string& path) const;
};

}  // namespace vardane
