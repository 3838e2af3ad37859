// Key paths of the settings store.
#pragma once

#include <string>
#include <string_view>

namespace vardane {

// HKLM: AppPath, CurrentLang. HKCU: the groups below it.
inline constexpr std::string_view kVardaneKey = "SOFTWARE\\Vardane";

// HKCU key of a settings group ("General", "Connection", "Proxy" ...).
inline std::string GroupKeyPath(std::string_view group) {
    std::string path(kVardaneKey);
    path += '\\';
    path += group;
    return path;
}

// HKCU root of the category tree.
inline constexpr std::string_view kCategoriesKey = "SOFTWARE\\Vardane\\Categories";

}  // namespace vardane
