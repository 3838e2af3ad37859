// vardane-cli config: shows and changes the settings store.
//   config                  every value as ROOT\KEY\NAME=VALUE, sorted
//   config KEY NAME         one value
//   config KEY NAME VALUE   sets it
// KEY starts with its root (HKCU\ or HKLM\); NAME "@" is the key's default
// value.
#pragma once

#include <optional>
#include <string>

#include "cli/cli_command.h"

namespace vardane {

class CRegistry;

class ConfigCommand : public CliCommand {
  public:
    CLI::App* Register(CLI::App& app) override;
    int Run(CliContext& context) override;

  private:
    std::optional<std::string> key_, name_, value_;
};

// Every value of both stores as "ROOT\KEY\NAME=VALUE" (NAME "@" for the
// default value; CR and LF in values written as \r and \n), sorted.
std::string FormatAllSettings(CRegistry& registry);

}  // namespace vardane
