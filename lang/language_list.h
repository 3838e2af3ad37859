// The selectable languages: codes from the settings store, display names
// from the language files.
#pragma once

#include <string>
#include <vector>

namespace vardane {

class LangTable;
class Registry;

struct LanguageEntry {
    std::string Code;
    // "Language" of the file's [Lang] section; "" when the file, the section
    // or the key is missing or the file is not UTF-16LE.
    std::string DisplayName;
    // The code equals the current language, ignoring case.
    bool IsCurrent = false;
};

// Lang_1 .. Lang_<Lang_Cnt> of HKCU SOFTWARE\Vardane\Language, in that order.
std::vector<LanguageEntry> LanguageList(Registry& registry, const LangTable& lang);

}  // namespace vardane
