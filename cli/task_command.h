// A vardane-cli command that works on the main window model: it registers
// its sub-command, and runs against a runtime (this process's own, or that
// of the process owning the data root when the command was forwarded).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "app/menus.h"
#include "task/task_list.h"

namespace CLI {
class App;
}

namespace vardane {

class CliIo;
class OwnerRuntime;
class MainFrame;
struct DataRoot;

struct CliEnv {
    OwnerRuntime& rt;
    CliIo& io;
    // The command came from another vardane-cli process.
    bool forwarded = false;
    bool verbose = false;
};

class TaskCommand {
  public:
    virtual ~TaskCommand() = default;
    virtual CLI::App* Register(CLI::App& app) = 0;
    // A usage error found after parsing, before anything is started or
    // written (status 2, message on io); nullopt when the command may run.
    virtual std::optional<int> CheckUsage(CliIo& /*io*/) { return std::nullopt; }
    // The exit status, or nullopt when the command left a job that ends later.
    virtual std::optional<int> Run(CliEnv& env) = 0;
    // run (and the GUI) honour DownloadAtStart; other commands do not.
    virtual bool StartsDownloadsAtStart() const { return false; }
    // A command that runs in the process that was started, never in the
    // data root's owner (the browsers' host, their manifests): its exit
    // status. nullopt for every other command.
    virtual std::optional<int> RunAlone(CliIo& /*io*/, const DataRoot& /*root*/) {
        return std::nullopt;
    }
};

// Every task command, in help order.
std::vector<std::unique_ptr<TaskCommand>> MakeTaskCommands();
// The commands of each source file, in help order.
std::unique_ptr<TaskCommand> MakeGetCommand();
void AddListCommands(std::vector<std::unique_ptr<TaskCommand>>& commands);
void AddRunCommands(std::vector<std::unique_ptr<TaskCommand>>& commands);
std::unique_ptr<TaskCommand> MakeCategoriesCommand();
std::unique_ptr<TaskCommand> MakeLimitCommand();
void AddExplorerCommands(std::vector<std::unique_ptr<TaskCommand>>& commands);
void AddBrowserCommands(std::vector<std::unique_ptr<TaskCommand>>& commands);

// The ids of ids that stand in list (every list when list is nullopt); the
// others are added to unknown.
std::vector<std::string> KnownTasks(const MainFrame& frame, const std::vector<std::string>& ids,
                                    std::optional<TaskList> list,
                                    std::vector<std::string>& unknown);
// "vardane-cli: no task <id>" for each, status 1; 0 when ids is empty.
int ReportUnknownTasks(CliIo& io, const std::vector<std::string>& ids);

}  // namespace vardane
