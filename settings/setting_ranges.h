// The ranges of the numeric settings, as the settings sheet's controls
// allow them. A value outside its range (by hand in the store, or an old
// store) is clamped when loaded; the config command refuses it.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vardane {

struct SettingRange {
    const char* Group;  // key under SOFTWARE\Vardane
    const char* Name;
    int Min;
    int Max;
};

// The range of group\name (names compared without case), nullopt when the
// value has none.
std::optional<SettingRange> FindSettingRange(std::string_view group, std::string_view name);

// value clamped to the range of group\name; unchanged without a range.
int ClampSetting(std::string_view group, std::string_view name, int value);

// Why value may not be stored under keyPath\name ("" when it may): a known
// numeric setting takes only a decimal number inside its range.
std::string RefusedSettingValue(std::string_view keyPath, std::string_view name,
                                std::string_view value);

}  // namespace vardane
