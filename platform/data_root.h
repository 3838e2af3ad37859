// Where Vardane keeps its data: Tasks/, Download/, Registry/, the instance
// lock and socket, optionally Lang/.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace vardane {

struct DataRoot {
    std::string AppDir;   // the data root, ending with '/'
    std::string AppPath;  // full path of the running executable
};

// In this order: homeOption (--home DIR); $VARDANE_HOME; the executable's folder
// when it is writable and not an installed one (no <prefix>/share/vardane/
// beside its bin/); $XDG_DATA_HOME/vardane/ (~/.local/share/vardane/).
// The chosen folder is created. argv0 is used only when /proc/self/exe is not
// readable.
DataRoot ResolveDataRoot(const std::optional<std::string>& homeOption, const char* argv0);

// The same order for an executable at exePath (its folder is the third
// choice). Used by ResolveDataRoot and by tests.
DataRoot ResolveDataRootFor(const std::optional<std::string>& homeOption,
                            const std::string& exePath);

// Full path of the running executable ("" when unknown).
std::string ExecutablePath(const char* argv0);

// Folders searched for Lang/<code>, best first: <AppDir>Lang/, the Lang/
// beside the executable, <prefix>/share/vardane/Lang/.
std::vector<std::string> LanguageFolders(const DataRoot& root);

}  // namespace vardane
