// vardane-cli config:
//   config                  every value as ROOT\KEY\NAME=VALUE, sorted
//   config KEY NAME         one value
//   config KEY NAME VALUE   sets it
// KEY starts with its root (HKCU\ or HKLM\); NAME "@" is the key's default
// value.
#pragma once

#include <memory>
#include <string>

#include "cli/task_command.h"

namespace vardane {

class CRegistry;

std::unique_ptr<TaskCommand> MakeConfigCommand();

// Every value of both stores as "ROOT\KEY\NAME=VALUE" (NAME "@" for the
// default value; CR and LF in values written as \r and \n), sorted.
std::string FormatAllSettings(CRegistry& registry);

}  // namespace vardane
