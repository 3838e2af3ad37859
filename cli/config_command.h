// vardane-cli config:
//   config                  every value as ROOT\KEY\NAME=VALUE, sorted
//   config KEY NAME         one value
//   config KEY NAME VALUE   sets it
// KEY starts with its root (HKCU\ or HKLM\); NAME "@" is the key's default
// value.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "cli/task_command.h"

namespace vardane {

class Registry;

std::unique_ptr<TaskCommand> MakeConfigCommand();

// Every value of both stores as "ROOT\KEY\NAME=VALUE" (NAME "@" for the
// default value; CR and LF in values written as \r and \n, other control
// characters as '?'), sorted. Passwords show as ****** unless showSecrets.
std::string FormatAllSettings(Registry& registry, bool showSecrets = false);

// value of keyPath\name as it may be printed: "******" for a value named
// like a password, the password of a proxy record or of an address masked.
std::string MaskSettingValue(std::string_view keyPath, std::string_view name,
                             std::string_view value);

}  // namespace vardane
