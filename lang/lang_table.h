// Text lookup by key in the current language file.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace vardane {

// The current language: folders searched for Lang files, and the code.
// Lookups are cached per file (loaded on first use, first match wins); a
// file changed on disk is seen after the next start or after SetCurrent.
// Thread-safe: workers look up log texts while the window thread runs.
class LangTable {
  public:
    LangTable() = default;
    // folders: each ends with '/', best first; the file of a code is the
    // first <folder><code> that exists.
    LangTable(std::vector<std::string> folders, std::string code);

    void SetFolders(std::vector<std::string> folders);
    void SetCurrent(std::string code);
    std::string Current() const;

    // Localized text of key (ASCII case-insensitive), "" when the file or the
    // key is missing.
    std::string GetLangText(std::string_view key) const;
    // The text of key after a count: for exactly one, the text of key +
    // "_One" where the file has it (a singular), else the text of key.
    std::string GetCountText(std::string_view key, int64_t count) const;
    // GetLangText("AppTitle"): caption of every message box and dialog.
    std::string GetAppTitle() const { return GetLangText("AppTitle"); }
    // Path of the file of code, "" when none exists.
    std::string LangFilePath(std::string_view code) const;

  private:
    mutable std::mutex mutex_;
    std::vector<std::string> folders_;
    std::string code_;
    // key (lower case) -> value, for the current code; filled on first lookup.
    mutable std::shared_ptr<const std::map<std::string, std::string>> table_;
};

}  // namespace vardane
