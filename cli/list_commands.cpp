// Commands that change the task lists: add, import, list, show, edit,
// delete, redownload, move-up, move-down.
#include <CLI/CLI.hpp>
#include <memory>

#include "app/command_ids.h"
#include "app/main_frame.h"
#include "cli/cli_runtime.h"
#include "cli/task_command.h"
#include "cli/task_options.h"
#include "dialogs/category_tree.h"
#include "dialogs/edit_task_dialog.h"
#include "platform/file.h"
#include "settings/app_context.h"
#include "task/progress_file.h"
#include "task/task_list.h"
#include "task/url.h"

namespace vardane {

namespace {

std::optional<TaskView> ParseView(const std::string& text) {
    if (text == "downloading") {
        return TaskView::Downloading;
    }
    if (text == "completed") {
        return TaskView::Completed;
    }
    if (text == "deleted") {
        return TaskView::Deleted;
    }
    return std::nullopt;
}

const std::vector<std::string> kViewNames = {"downloading", "completed", "deleted"};

class AddCommand : public TaskCommand {
  public:
    CLI::App* Register(CLI::App& app) override {
        CLI::App* cmd = app.add_subcommand("add", "Add a task for URL and print its id");
        cmd->add_option("URL", url_, "HTTP or FTP address")->required();
        options_.Register(*cmd);
        return cmd;
    }
    std::optional<int> Run(CliEnv& env) override {
        CEdtTaskDlg dialog(env.rt.Context(), env.rt.Questions());
        dialog.InitNew(url_);
        if (!options_.ApplyTo(dialog, env.io)) {
            return kStatusFailed;
        }
        if (!dialog.Ok()) {
            return kStatusFailed;
        }
        env.io.Out(dialog.TaskId() + "\n");
        // Only a running instance downloads; a one-shot process would stop
        // the task again as it exits.
        env.rt.Frame().OnNewTaskAdded(dialog.TaskId(), dialog.StartImmediately() && env.forwarded);
        return kStatusOk;
    }

  private:
    std::string url_;
    TaskOptions options_;
};

class EditCommand : public TaskCommand {
  public:
    CLI::App* Register(CLI::App& app) override {
        CLI::App* cmd = app.add_subcommand("edit", "Change the properties of task ID");
        cmd->add_option("ID", id_, "Task id")->required();
        cmd->add_option("--url", url_, "New address");
        options_.Register(*cmd);
        return cmd;
    }
    std::optional<int> Run(CliEnv& env) override {
        std::optional<TaskView> view = ViewOfTask(env.rt, id_);
        if (!view) {
            return ReportUnknownTasks(env.io, {id_});
        }
        CEdtTaskDlg dialog(env.rt.Context(), env.rt.Questions());
        dialog.InitEdit(id_);
        if (url_) {
            dialog.OnUrlChanged(*url_);
        }
        if (!options_.ApplyTo(dialog, env.io) || !dialog.Ok()) {
            return kStatusFailed;
        }
        CMainFrame& frame = env.rt.Frame();
        SelectTasks(frame, *view, {id_});
        frame.OnTaskEdited(id_, dialog.StartImmediately() && env.forwarded);
        return kStatusOk;
    }

  private:
    std::string id_;
    std::optional<std::string> url_;
    TaskOptions options_;
};

class ImportCommand : public TaskCommand {
  public:
    CLI::App* Register(CLI::App& app) override {
        CLI::App* cmd = app.add_subcommand("import", "Add a task for every address in FILE");
        cmd->add_option("FILE", file_, "Text file, one address per line")->required();
        return cmd;
    }
    std::optional<int> Run(CliEnv& env) override {
        CMainFrame& frame = env.rt.Frame();
        frame.SelectView(TaskView::Downloading);
        env.rt.pendingImportFile = AbsolutePath(env.io, file_);
        // In a one-shot process the imported tasks are only listed.
        bool immediately = env.rt.Context().settings.DownloadImmediately;
        if (!env.forwarded) {
            env.rt.Context().settings.DownloadImmediately = false;
        }
        frame.Import();
        env.rt.Context().settings.DownloadImmediately = immediately;
        return env.rt.Questions().Refused() ? kStatusFailed : kStatusOk;
    }

  private:
    std::string file_;
};

class ListCommand : public TaskCommand {
  public:
    CLI::App* Register(CLI::App& app) override {
        CLI::App* cmd = app.add_subcommand(
            "list", "Print the tasks of a view: id, state, name, percent, size, position, speed");
        cmd->add_option("VIEW", view_, "downloading (default), completed or deleted")
            ->check(CLI::IsMember(kViewNames));
        cmd->add_option("--category", category_,
                        "Only the tasks of this category (text path below the view)")
            ->type_name("TEXT\\PATH");
        return cmd;
    }
    std::optional<int> Run(CliEnv& env) override {
        CMainFrame& frame = env.rt.Frame();
        TaskView view = ParseView(view_).value_or(TaskView::Downloading);
        frame.SelectView(view);
        if (category_) {
            const CTreeModel& tree = frame.Folders();
            TreeItem viewItem = tree.Children(tree.Top())[static_cast<size_t>(view)];
            TreeItem item = FindItemByTextPath(tree, tree.Text(viewItem) + "\\" + *category_);
            if (item == kNoItem) {
                item = FindItemByTextPath(tree, *category_);
            }
            if (item == kNoItem) {
                env.io.Err("vardane-cli: no category '" + *category_ + "'\n");
                return kStatusFailed;
            }
            frame.SelectFolderItem(item);
        }
        std::string text;
        for (const TaskRow& row : frame.Rows()) {
            text += row.Id() + "\t" + StateWord(row.Icon);
            for (int column = 0; column < 5; ++column) {
                text += "\t" + row.Columns[column];
            }
            text += "\n";
        }
        env.io.Out(text);
        return kStatusOk;
    }

  private:
    std::string view_ = "downloading";
    std::optional<std::string> category_;
};

class ShowCommand : public TaskCommand {
  public:
    CLI::App* Register(CLI::App& app) override {
        CLI::App* cmd = app.add_subcommand("show", "Print the progress record of task ID");
        cmd->add_option("ID", id_, "Task id")->required();
        return cmd;
    }
    std::optional<int> Run(CliEnv& env) override {
        const std::string path = ProgressFilePath(env.rt.Context().AppDir(), id_);
        if (!FileExists(path)) {
            return ReportUnknownTasks(env.io, {id_});
        }
        TaskProgressRecord r = ReadProgress(path);
        std::string text =
            "BaseURL=" + r.BaseURL + "\nLocalDir=" + r.LocalDir +
            "\nLocalFileName=" + r.LocalFileName + "\nLocalTempFileName=" + r.LocalTempFileName +
            "\nProxyHTTP=" + r.ProxyHTTP + "\nProxyFTP=" + r.ProxyFTP + "\nState=" + r.State +
            "\nThreadCount=" + r.ThreadCount + "\nFolder=" + r.Folder + "\nCat=" + r.Cat +
            "\nFileSize=" + r.FileSize + "\nFilePos=" + r.FilePos + "\n";
        for (size_t i = 0; i < r.Block.size(); ++i) {
            text += "Block_" + std::to_string(i) + "=" + r.Block[i] + "\n";
        }
        env.io.Out(text);
        return kStatusOk;
    }

  private:
    std::string id_;
};

// delete, redownload, move-up, move-down: a command on the selected rows of
// the view that holds each id.
class RowsCommand : public TaskCommand {
  public:
    RowsCommand(const char* name, const char* help, int command, bool hasAll)
        : name_(name), help_(help), command_(command), hasAll_(hasAll) {}
    CLI::App* Register(CLI::App& app) override {
        CLI::App* cmd = app.add_subcommand(name_, help_);
        cmd->add_option("ID", ids_, "Task ids");
        if (hasAll_) {
            cmd->add_flag("--all", all_, "Every task of the view");
            cmd->add_option("--view", view_,
                            "View of --all: downloading (default), completed "
                            "or deleted")
                ->check(CLI::IsMember(kViewNames));
        }
        return cmd;
    }
    std::optional<int> Run(CliEnv& env) override {
        CMainFrame& frame = env.rt.Frame();
        if (all_) {
            frame.SelectView(ParseView(view_).value_or(TaskView::Downloading));
            frame.OnCommand(command_ == ID_DELETE ? ID_DELETE_ALL : command_);
            return env.rt.Questions().Refused() ? kStatusFailed : kStatusOk;
        }
        if (ids_.empty()) {
            env.io.Err(std::string("vardane-cli: ") + name_ + " needs task ids" +
                       (hasAll_ ? " or --all" : "") + "\n");
            return kStatusUsage;
        }
        // Where each id stands before anything moves: a task deleted from the
        // downloading view must not be deleted again from the deleted view.
        std::vector<std::string> unknown;
        std::vector<std::pair<std::string, TaskView>> placed;
        for (const std::string& id : ids_) {
            std::optional<TaskView> view = ViewOfTask(env.rt, id);
            if (view) {
                placed.emplace_back(id, *view);
            } else {
                unknown.push_back(id);
            }
        }
        for (TaskView view : {TaskView::Downloading, TaskView::Completed, TaskView::Deleted}) {
            std::vector<std::string> here;
            for (const auto& [id, where] : placed) {
                if (where == view) {
                    here.push_back(id);
                }
            }
            if (!here.empty()) {
                SelectTasks(frame, view, here);
                frame.OnCommand(command_);
            }
        }
        if (int status = ReportUnknownTasks(env.io, unknown)) {
            return status;
        }
        return env.rt.Questions().Refused() ? kStatusFailed : kStatusOk;
    }

  private:
    const char* name_;
    const char* help_;
    int command_;
    bool hasAll_;
    std::vector<std::string> ids_;
    bool all_ = false;
    std::string view_ = "downloading";
};

}  // namespace

std::unique_ptr<TaskCommand> MakeAddCommand() {
    return std::make_unique<AddCommand>();
}
std::unique_ptr<TaskCommand> MakeEditCommand() {
    return std::make_unique<EditCommand>();
}
std::unique_ptr<TaskCommand> MakeImportCommand() {
    return std::make_unique<ImportCommand>();
}
std::unique_ptr<TaskCommand> MakeListCommand() {
    return std::make_unique<ListCommand>();
}
std::unique_ptr<TaskCommand> MakeShowCommand() {
    return std::make_unique<ShowCommand>();
}
std::unique_ptr<TaskCommand> MakeDeleteCommand() {
    return std::make_unique<RowsCommand>("delete", "Delete tasks (asks first; see --yes)",
                                         ID_DELETE, true);
}
std::unique_ptr<TaskCommand> MakeRedownloadCommand() {
    return std::make_unique<RowsCommand>("redownload",
                                         "Download completed or deleted tasks again as new tasks",
                                         ID_REDOWNLOAD, false);
}
std::unique_ptr<TaskCommand> MakeMoveUpCommand() {
    return std::make_unique<RowsCommand>("move-up", "Move tasks one place up in their list",
                                         ID_MOVE_UP, false);
}
std::unique_ptr<TaskCommand> MakeMoveDownCommand() {
    return std::make_unique<RowsCommand>("move-down", "Move tasks one place down in their list",
                                         ID_MOVE_DOWN, false);
}

std::optional<TaskView> ViewOfTask(CliRuntime& rt, const std::string& id) {
    const std::string& appDir = rt.Context().AppDir();
    std::lock_guard<std::mutex> lock(rt.Context().ListLock);
    const std::pair<TaskList, TaskView> lists[] = {{TaskList::Downloading, TaskView::Downloading},
                                                   {TaskList::Completed, TaskView::Completed},
                                                   {TaskList::Deleted, TaskView::Deleted}};
    for (const auto& [list, view] : lists) {
        for (const std::string& listed : ReadListIds(ListFilePath(appDir, list))) {
            if (listed == id) {
                return view;
            }
        }
    }
    return std::nullopt;
}

std::vector<std::string> SelectTasks(CMainFrame& frame, TaskView view,
                                     const std::vector<std::string>& ids) {
    frame.SelectView(view);
    frame.ClearSelection();
    std::vector<std::string> missing;
    for (const std::string& id : ids) {
        int row = frame.FindRow(id);
        if (row < 0) {
            missing.push_back(id);
        } else {
            frame.SetRowSelected(row, true);
        }
    }
    return missing;
}

int ReportUnknownTasks(CliIo& io, const std::vector<std::string>& ids) {
    for (const std::string& id : ids) {
        io.Err("vardane-cli: no task " + id + "\n");
    }
    return ids.empty() ? kStatusOk : kStatusFailed;
}

const char* StateWord(int icon) {
    switch (icon) {
        case imgTaskRunning:
            return "running";
        case imgTaskCompleted:
            return "completed";
        case imgTaskFailed:
            return "failed";
        case imgTaskWaiting:
            return "waiting";
        default:
            return "stopped";
    }
}

}  // namespace vardane
