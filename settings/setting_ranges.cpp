#include "settings/setting_ranges.h"

#include <algorithm>
#include <array>
#include <cctype>

#include "platform/text.h"
#include "settings/registry_paths.h"

namespace vardane {

namespace {

constexpr std::array<SettingRange, 8> kRanges = {{
    {"General", "MinBlock", 1, 1024},
    {"Connection", "ConnectionTimeOut", 1, 90},
    {"Connection", "RetryWaitSec", 1, 90},
    {"Connection", "MaxTasks", 1, 4},
    {"Connection", "RetryCounts", 1, 99},
    {"Connection", "SpeedLimitKBSec", 1, 1024},
    {"Alarm", "AlarmSec", 1, 99},
    {"Default", "ThreadCnt", 1, 4},
}};

}  // namespace

std::optional<SettingRange> FindSettingRange(std::string_view group, std::string_view name) {
    for (const SettingRange& range : kRanges) {
        if (EqualsNoCase(group, range.Group) && EqualsNoCase(name, range.Name)) {
            return range;
        }
    }
    return std::nullopt;
}

int ClampSetting(std::string_view group, std::string_view name, int value) {
    std::optional<SettingRange> range = FindSettingRange(group, name);
    return range ? std::clamp(value, range->Min, range->Max) : value;
}

std::string RefusedSettingValue(std::string_view keyPath, std::string_view name,
                                std::string_view value) {
    const std::string prefix = GroupKeyPath("");
    if (keyPath.size() <= prefix.size() || !StartsWithNoCase(keyPath, prefix)) {
        return "";
    }
    std::optional<SettingRange> range = FindSettingRange(keyPath.substr(prefix.size()), name);
    // An empty value is allowed: the next start writes the default again.
    if (!range || value.empty()) {
        return "";
    }
    bool digits = value.size() <= 9 && std::all_of(value.begin(), value.end(), [](char c) {
                      return std::isdigit(static_cast<unsigned char>(c)) != 0;
                  });
    int64_t number = digits ? TextToInt(value) : -1;
    if (number < range->Min || number > range->Max) {
        return std::string(range->Name) + " must be a number from " + std::to_string(range->Min) +
               " to " + std::to_string(range->Max);
    }
    return "";
}

}  // namespace vardane
