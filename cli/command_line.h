// The whole vardane-cli command line: global options (--home, --yes,
// --verbose), the task commands and config. One object per command line,
// so that a forwarded command is parsed afresh in the owning process.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/task_command.h"

namespace CLI {
class App;
}

namespace vardane {

class CliIo;
class OwnerRuntime;
struct DataRoot;

class CommandLine {
  public:
    CommandLine();
    ~CommandLine();

    // Parses args (without the program name). nullopt when a command is ready
    // to run; else the exit status (0 after --help, 2 for bad usage), the
    // messages written to io.
    std::optional<int> Parse(const std::vector<std::string>& args, CliIo& io);

    std::optional<std::string> Home() const;
    bool StartsDownloadsAtStart() const;

    // How the parsed command wants a password that is no argument: from
    // standard input (--password-stdin), asked at the terminal (--user
    // without --password), or not at all.
    enum class PasswordInput { None, Stdin, Prompt };
    PasswordInput WantedPassword() const;

    // Runs the parsed command when it runs in this process on its own
    // (TaskCommand::RunAlone): its status; nullopt for the others.
    std::optional<int> RunAlone(CliIo& io, const DataRoot& root);

    // Runs the parsed task command on rt. nullopt: it left a job in rt.
    std::optional<int> Run(OwnerRuntime& rt, CliIo& io, bool forwarded);

  private:
    std::unique_ptr<CLI::App> app_;
    std::optional<std::string> home_;
    std::vector<std::unique_ptr<TaskCommand>> commands_;
    std::vector<CLI::App*> commandApps_;
    bool yes_ = false;
    bool verbose_ = false;
};

// A command line another process handed over, parsed afresh and run on rt:
// the executor of every process that owns a data root.
std::optional<int> RunForwardedCommand(OwnerRuntime& rt, const std::vector<std::string>& args,
                                       CliIo& io);

}  // namespace vardane
