#include "lang/language_list.h"

#include <algorithm>

#include "lang/lang_table.h"
#include "lang/profile_value.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace vardane {

std::vector<LanguageEntry> LanguageList(Registry& registry, const LangTable& lang) {
    std::vector<LanguageEntry> list;
    RegistryKey key(registry);
    if (!key.Open(RegRoot::CurrentUser, "SOFTWARE\\Vardane\\Language", false)) {
        return list;
    }
    std::string current = lang.Current();
    // A hand-edited count cannot make the list unbounded.
    constexpr int64_t kMaxLanguages = 1000;
    int64_t count = std::min(TextToInt(key.QueryString("Lang_Cnt")), kMaxLanguages);
    for (int64_t i = 1; i <= count; ++i) {
        LanguageEntry entry;
        entry.Code = key.QueryString("Lang_" + IntToText(i));
        std::string path = lang.LangFilePath(entry.Code);
        if (!path.empty()) {
            entry.DisplayName = GetProfileValue(path, "Lang", "Language", "");
        }
        entry.IsCurrent = EqualsNoCase(entry.Code, current);
        list.push_back(std::move(entry));
    }
    return list;
}

}  // namespace vardane
