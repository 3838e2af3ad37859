// Commands that change the task lists: add, import, list, show, edit,
// delete, redownload, move-up, move-down.
#include <CLI/CLI.hpp>
#include <memory>

#include "app/main_frame.h"
#include "app/owner_runtime.h"
#include "cli/password_input.h"
#include "cli/task_command.h"
#include "cli/task_options.h"
#include "dialogs/category_tree.h"
#include "dialogs/edit_task_dialog.h"
#include "platform/display_text.h"
#include "platform/file.h"
#include "platform/text.h"
#include "settings/app_context.h"
#include "task/display_address.h"
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
        CLI::App* cmd = app.add_subcommand("add", "Add a task for every URL and print the new ids");
        cmd->add_option("URL", urls_, "HTTP or FTP addresses")->required();
        options_.Register(*cmd);
        return cmd;
    }
    // Every address is tried; one that is refused fails the command but
    // loses none of the others.
    std::optional<int> Run(CliEnv& env) override {
        int status = kStatusOk;
        for (const std::string& url : urls_) {
            EdtTaskDlg dialog(env.rt.Context(), env.rt.Questions());
            dialog.SetTaskLookup(&env.rt.Frame().Queue());
            dialog.InitNew(RestoreSiteLogin(env.rt.Context(), url));
            // add starts its tasks unless --manual says otherwise, whatever
            // DownloadImmediately holds for the dialog.
            dialog.SetImmediately(true);
            if (!options_.Accept(dialog, env.io)) {
                status = kStatusFailed;
                continue;
            }
            env.io.Out(dialog.TaskId() + "\n");
            // Only a running instance downloads; a one-shot process would stop
            // the task again as it exits, so it says how to start it.
            const bool start = dialog.StartImmediately();
            env.rt.Frame().Operations().Added(dialog.TaskId(), start && env.forwarded);
            if (start && !env.forwarded) {
                env.io.Err("vardane-cli: " + dialog.TaskId() +
                           " stays stopped: no vardane or `vardane-cli run` owns this data "
                           "root; `vardane-cli start " +
                           dialog.TaskId() + "` downloads it\n");
            }
        }
        return status;
    }

  private:
    std::vector<std::string> urls_;
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
        if (!env.rt.Frame().Queue().ListOf(id_)) {
            return ReportUnknownTasks(env.io, {id_});
        }
        EdtTaskDlg dialog(env.rt.Context(), env.rt.Questions());
        dialog.SetTaskLookup(&env.rt.Frame().Queue());
        dialog.InitEdit(id_);
        if (url_) {
            // An address copied from show keeps the task's real login.
            dialog.OnUrlChanged(UnmaskAddress(*url_, dialog.Url()));
        }
        if (!options_.Accept(dialog, env.io)) {
            return kStatusFailed;
        }
        env.rt.Frame().Operations().Edited(id_, dialog.StartImmediately() && env.forwarded);
        return kStatusOk;
    }

  private:
    std::string id_;
    std::optional<std::string> url_;
    TaskOptions options_;
};

// The import runs as a job in steps, so that the owner of the data root
// goes on answering other commands while a long file is read.
class ImportJob : public CliJob {
  public:
    ImportJob(CliIo& io, std::unique_ptr<ImportRun> run) : CliJob(io), run_(std::move(run)) {}
    bool Step(OwnerRuntime& rt) override {
        return !interrupted && !finished_ && rt.Frame().Operations().ContinueImport(*run_);
    }
    std::optional<int> Result(OwnerRuntime& rt) override {
        if (!interrupted && rt.Frame().Operations().ContinueImport(*run_)) {
            return std::nullopt;
        }
        if (!finished_) {
            finished_ = true;
            // The count line goes to whoever asked for the import.
            rt.Questions().Bind(&io, true);
            rt.Frame().Operations().FinishImport(*run_);
            rt.Questions().Bind(nullptr, false);
        }
        // A Ctrl-C cut the import short: what was read is kept, but the
        // file was not imported whole.
        return interrupted ? kStatusInterrupted : kStatusOk;
    }

  private:
    std::unique_ptr<ImportRun> run_;
    bool finished_ = false;
};

class ImportCommand : public TaskCommand {
  public:
    CLI::App* Register(CLI::App& app) override {
        CLI::App* cmd = app.add_subcommand("import", "Add a task for every address in FILE");
        cmd->add_option("FILE", file_, "Text file, one address per line")->required();
        return cmd;
    }
    std::optional<int> Run(CliEnv& env) override {
        MainFrame& frame = env.rt.Frame();
        env.rt.pendingImportFile = AbsolutePath(env.io, file_);
        std::optional<std::string> path = frame.Operations().AskImportFile();
        if (!path) {
            return env.rt.Questions().Refused() ? kStatusFailed : kStatusOk;
        }
        // In a one-shot process the imported tasks are only listed.
        const bool immediately = env.forwarded && env.rt.Context().settings.DownloadImmediately;
        env.rt.AddJob(
            std::make_unique<ImportJob>(env.io, frame.Operations().BeginImport(*path, immediately)),
            nullptr);
        return std::nullopt;
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
        MainFrame& frame = env.rt.Frame();
        TaskView view = ParseView(view_).value_or(TaskView::Downloading);
        std::string category;
        if (category_) {
            const TreeModel& tree = frame.Pane().Folders();
            TreeItem viewItem = tree.Children(tree.Top())[static_cast<size_t>(view)];
            TreeItem item = FindItemByTextPath(tree, tree.Text(viewItem) + "\\" + *category_);
            if (item == kNoItem) {
                item = FindItemByTextPath(tree, *category_);
            }
            if (item == kNoItem) {
                env.io.Err("vardane-cli: no category '" + *category_ + "'\n");
                return kStatusFailed;
            }
            view = frame.Pane().ViewOfFolder(item);
            category = frame.Pane().CategoryOfFolder(item);
        }
        std::string text;
        for (const QueuedTask& task : frame.Queue().Tasks(ListOfView(view))) {
            if (!category.empty() && !EqualsNoCase(task.Category, category)) {
                continue;
            }
            TaskRow row = BuildTaskRow(task);
            text += row.Id() + "\t" + StateWord(task.State);
            for (int column = 0; column < 5; ++column) {
                text += "\t" + row.Columns[column];
            }
            text += "\n";
        }
        env.io.Out(text);
        // Named, never dropped: a record being restored comes back with its
        // line.
        for (const std::string& id : frame.Queue().UnreadableIds(ListOfView(view))) {
            env.io.Err("vardane-cli: task " + id +
                       ": its progress file is missing or cannot be read; its line is kept\n");
        }
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
        // The record is a file anyone may have edited, and the address keeps
        // the login the task needs: shown masked, without controls.
        std::string text;
        auto line = [&text](std::string_view key, std::string_view value) {
            text += std::string(key) + "=" + DisplayText(value) + "\n";
        };
        line("BaseURL", MaskAddressForDisplay(r.BaseURL));
        line("LocalDir", r.LocalDir);
        line("LocalFileName", r.LocalFileName);
        line("LocalTempFileName", r.LocalTempFileName);
        line("ProxyHTTP", r.ProxyHTTP);
        line("ProxyFTP", r.ProxyFTP);
        line("State", r.State);
        line("ThreadCount", r.ThreadCount);
        line("Folder", r.Folder);
        line("Cat", r.Cat);
        line("FileSize", r.FileSize);
        line("FilePos", r.FilePos);
        for (size_t i = 0; i < r.Block.size(); ++i) {
            line("Block_" + std::to_string(i), r.Block[i]);
        }
        if (!r.Checksum.empty()) {
            text += "Checksum=" + r.Checksum + "\n";
        }
        // The cookie is a login: said to be there, never shown.
        if (!r.Headers.Cookie.empty()) {
            text += "Cookie=" + std::string(kMaskedSecret) + "\n";
        }
        if (!r.Headers.Referer.empty()) {
            line("Referer", MaskAddressForDisplay(r.Headers.Referer));
        }
        if (!r.Headers.UserAgent.empty()) {
            line("UserAgent", r.Headers.UserAgent);
        }
        env.io.Out(text);
        return kStatusOk;
    }

  private:
    std::string id_;
};

enum class RowsAction { Delete, Redownload, Move };

// delete, redownload and the moves: an operation on tasks named by id.
class RowsCommand : public TaskCommand {
  public:
    RowsCommand(const char* name, const char* help, RowsAction action, MoveKind move)
        : name_(name),
          help_(help),
          action_(action),
          move_(move),
          hasAll_(action == RowsAction::Delete) {}
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
        MainFrame& frame = env.rt.Frame();
        if (all_) {
            TaskView view = ParseView(view_).value_or(TaskView::Downloading);
            std::vector<std::string> ids;
            for (const QueuedTask& task : frame.Queue().Tasks(ListOfView(view))) {
                ids.push_back(task.Id);
            }
            return Apply(frame, ids) ? kStatusOk : kStatusFailed;
        }
        if (ids_.empty()) {
            env.io.Err(std::string("vardane-cli: ") + name_ + " needs task ids" +
                       (hasAll_ ? " or --all" : "") + "\n");
            return kStatusUsage;
        }
        std::vector<std::string> unknown;
        std::vector<std::string> known = KnownTasks(frame, ids_, std::nullopt, unknown);
        if (action_ == RowsAction::Delete) {
            // A line without a readable record is deleted by its own id.
            std::erase_if(unknown, [&](const std::string& id) {
                if (!frame.Queue().UnreadableListOf(id)) {
                    return false;
                }
                known.push_back(id);
                return true;
            });
        }
        bool done = Apply(frame, known);
        if (int status = ReportUnknownTasks(env.io, unknown)) {
            return status;
        }
        return done ? kStatusOk : kStatusFailed;
    }

  private:
    // False when the user refused.
    bool Apply(MainFrame& frame, const std::vector<std::string>& ids) {
        switch (action_) {
            case RowsAction::Delete:
                return frame.Operations().Delete(ids);
            case RowsAction::Redownload:
                return ids.empty() || frame.Operations().Redownload(ids);
            case RowsAction::Move:
                frame.Operations().Move(ids, move_);
                break;
        }
        return true;
    }

    const char* name_;
    const char* help_;
    RowsAction action_;
    MoveKind move_;
    bool hasAll_;
    std::vector<std::string> ids_;
    bool all_ = false;
    std::string view_ = "downloading";
};

}  // namespace

void AddListCommands(std::vector<std::unique_ptr<TaskCommand>>& commands) {
    commands.push_back(std::make_unique<AddCommand>());
    commands.push_back(std::make_unique<ImportCommand>());
    commands.push_back(std::make_unique<ListCommand>());
    commands.push_back(std::make_unique<ShowCommand>());
    commands.push_back(std::make_unique<EditCommand>());
    struct Rows {
        const char* name;
        const char* help;
        RowsAction action;
        MoveKind move;
    };
    const Rows rows[] = {
        {"delete", "Delete tasks (asks first; see --yes)", RowsAction::Delete, MoveKind::Up},
        {"redownload", "Download completed or deleted tasks again as new tasks",
         RowsAction::Redownload, MoveKind::Up},
        {"move-up", "Move tasks one place up in their list", RowsAction::Move, MoveKind::Up},
        {"move-down", "Move tasks one place down in their list", RowsAction::Move, MoveKind::Down},
        {"move-top", "Move tasks to the top of their list", RowsAction::Move, MoveKind::Top},
        {"move-bottom", "Move tasks to the end of their list", RowsAction::Move, MoveKind::Bottom},
    };
    for (const Rows& r : rows) {
        commands.push_back(std::make_unique<RowsCommand>(r.name, r.help, r.action, r.move));
    }
}

std::vector<std::string> KnownTasks(const MainFrame& frame, const std::vector<std::string>& ids,
                                    std::optional<TaskList> list,
                                    std::vector<std::string>& unknown) {
    std::vector<std::string> known;
    for (const std::string& id : ids) {
        std::optional<TaskList> where = frame.Queue().ListOf(id);
        if (where && (!list || where == list)) {
            known.push_back(id);
        } else {
            unknown.push_back(id);
        }
    }
    return known;
}

int ReportUnknownTasks(CliIo& io, const std::vector<std::string>& ids) {
    for (const std::string& id : ids) {
        io.Err("vardane-cli: no task " + id + "\n");
    }
    return ids.empty() ? kStatusOk : kStatusFailed;
}

}  // namespace vardane
