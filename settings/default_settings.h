// The start-up pass that gives every missing or empty setting its default.
#pragma once

#include <cstdint>

namespace vardane {

struct AppContext;

// Range of the speed limit in KB/s (the limit control's range).
inline constexpr int64_t kMinSpeedLimitKB = 1;
inline constexpr int64_t kMaxSpeedLimitKB = 1024;

// Writes the default of every value of the settings store that reads empty
// (values holding text are never overwritten), sets CurrentLang in the record
// and in ctx.lang, takes SpeedLimit and SpeedLimitKBSec into the record and
// ctx.SpeedLimitKB, and builds or refreshes the category tree.
// Needs ctx.settings.AppDir and AppPath.
void WriteDefaultSettings(AppContext& ctx);

}  // namespace vardane
