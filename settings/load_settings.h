// Reading the settings store into the settings record.
#pragma once

#include <string>
#include <string_view>

namespace vardane {

struct AppContext;

// Fills ctx.settings from the store under ctx.SpeedLock (all but AppDir,
// AppPath, SpeedLimit and the speed limit value, which the default pass
// takes). Run after WriteDefaultSettings and again after the settings are
// saved. A changed CurrentLang becomes current in ctx.lang too.
void LoadSettings(AppContext& ctx);

// User-Agent text of a stored entry "<display name>,<User-Agent>": the text
// after the first comma when that comma is not the first character, else the
// whole entry.
std::string UserAgentFromEntry(std::string_view entry);

// Display name of an entry: the text before the first comma when that comma
// is not the first character, else the whole entry.
std::string UserAgentDisplayName(std::string_view entry);

}  // namespace vardane
