// One vardane-cli command: it adds its sub-command with its options to the
// parser, and runs when the command line named it.
#pragma once

namespace CLI {
class App;
}

namespace vardane {

class CliContext;

class CliCommand {
  public:
    virtual ~CliCommand() = default;
    // Adds the sub-command to app and returns it.
    virtual CLI::App* Register(CLI::App& app) = 0;
    // Runs after a successful parse; returns the exit status.
    virtual int Run(CliContext& context) = 0;
};

}  // namespace vardane
