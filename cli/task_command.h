// A vardane-cli command that works on the main window model: it registers
// its sub-command, and runs against a runtime (this process's own, or that
// of the process owning the data root when the command was forwarded).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "app/menus.h"

namespace CLI {
class App;
}

namespace vardane {

class CliIo;
class CliRuntime;
class CMainFrame;

struct CliEnv {
    CliRuntime& rt;
    CliIo& io;
    // The command came from another vardane-cli process.
    bool forwarded = false;
    bool verbose = false;
};

class TaskCommand {
  public:
    virtual ~TaskCommand() = default;
    virtual CLI::App* Register(CLI::App& app) = 0;
    // The exit status, or nullopt when the command left a job that ends later.
    virtual std::optional<int> Run(CliEnv& env) = 0;
    // run (and the GUI) honour DownloadAtStart; other commands do not.
    virtual bool StartsDownloadsAtStart() const { return false; }
};

// Every task command, in help order.
std::vector<std::unique_ptr<TaskCommand>> MakeTaskCommands();

// The view whose list file holds id, nullopt when none does.
std::optional<TaskView> ViewOfTask(CliRuntime& rt, const std::string& id);
// Shows view (the whole view, no category) and selects exactly the rows of
// ids; the ids without a row there are returned.
std::vector<std::string> SelectTasks(CMainFrame& frame, TaskView view,
                                     const std::vector<std::string>& ids);
// "vardane-cli: no task <id>" for each, status 1; 0 when ids is empty.
int ReportUnknownTasks(CliIo& io, const std::vector<std::string>& ids);
// running, completed, failed, stopped or waiting, from a row's icon.
const char* StateWord(int icon);

}  // namespace vardane
