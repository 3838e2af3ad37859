// How stored settings texts read as numbers and flags: leading decimal digits,
// anything else ends the number, no digits is 0; a flag is a non-zero number.
#pragma once

#include <algorithm>
#include <climits>
#include <string_view>

#include "platform/text.h"

namespace vardane {

// TextToInt clamped to the range of int.
inline int SettingInt(std::string_view text) {
    return static_cast<int>(std::clamp<int64_t>(TextToInt(text), INT_MIN, INT_MAX));
}

inline bool SettingFlag(std::string_view text) {
    return TextToInt(text) != 0;
}

inline const char* FlagText(bool flag) {
    return flag ? "1" : "0";
}

}  // namespace vardane
