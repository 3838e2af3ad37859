// Commands that run downloads: get, run, start, stop.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <climits>
#include <map>
#include <memory>
#include <mutex>
#include <set>

#include "app/main_frame.h"
#include "app/owner_runtime.h"
#include "cli/password_input.h"
#include "cli/progress_display.h"
#include "cli/task_command.h"
#include "cli/task_options.h"
#include "dialogs/edit_task_dialog.h"
#include "platform/display_text.h"
#include "platform/text.h"
#include "settings/app_context.h"
#include "task/download_task.h"
#include "task/progress_file.h"
#include "task/task_list.h"
#include "task/url.h"

namespace vardane {

namespace {

// --ca-file and --insecure of one get: handed to the task's next start
// (this command's) and dropped when the command ends, however it ends, so
// no later start of the task by anyone inherits them.
class TlsChoiceHold {
  public:
    TlsChoiceHold(AppContext& ctx, std::string id, bool insecure, const std::string& caFile)
        : ctx_(ctx), id_(std::move(id)) {
        if (insecure || !caFile.empty()) {
            ticket_ = ctx_.ChooseTls(id_, AppContext::TlsChoice{insecure, caFile});
        }
    }
    ~TlsChoiceHold() {
        if (ticket_ != 0) {
            ctx_.DropTlsChoice(id_, ticket_);
        }
    }
    TlsChoiceHold(const TlsChoiceHold&) = delete;
    TlsChoiceHold& operator=(const TlsChoiceHold&) = delete;

  private:
    AppContext& ctx_;
    std::string id_;
    uint64_t ticket_ = 0;
};

// Watches tasks while they download and shows their progress. With a
// target, it ends with that task; otherwise when no task runs or waits (or,
// with stay, only on Ctrl-C).
class TransferJob : public CliJob {
  public:
    // tls: the command's certificate choice, dropped with the job.
    TransferJob(CliIo& io, std::string target, bool verbose, bool stay,
                std::unique_ptr<TlsChoiceHold> tls = nullptr)
        : CliJob(io),
          target_(std::move(target)),
          verbose_(verbose),
          stay_(stay),
          tls_(std::move(tls)) {}
    ~TransferJob() override { EndBar(); }

    void Tick(OwnerRuntime& rt) override {
        std::vector<std::string> parts;
        for (const QueuedTask& task : rt.Frame().Queue().Tasks(TaskList::Downloading)) {
            bool watched = target_.empty() ? task.State == TaskState::Running : task.Id == target_;
            if (!watched) {
                continue;
            }
            if (task.State == TaskState::Waiting) {
                parts.push_back(DisplayText(task.Name) + "  waiting");
            } else if (task.State == TaskState::Running) {
                TaskRow row = BuildTaskRow(task);
                parts.push_back(io.OutputIsTerminal() ? ProgressBar(row, 20) : ProgressLine(row));
            }
        }
        if (parts.empty()) {
            return;
        }
        if (io.OutputIsTerminal()) {
            NoticeLimit(rt);
            std::string line;
            for (const std::string& part : parts) {
                line += (line.empty() ? "" : " | ") + part;
            }
            io.Out("\r\033[K" + line);
            barShown_ = true;
        } else {
            std::string text;
            for (const std::string& part : parts) {
                text += part + "\n";
            }
            io.Out(text);
        }
    }

    void TaskEnded(OwnerRuntime& /*rt*/, const std::string& id, TaskState state) override {
        if (!target_.empty() && id != target_) {
            return;
        }
        if (state == TaskState::Failed) {
            failed_.push_back(id);
        }
        if (id == target_) {
            targetState_ = state;
            tls_.reset();  // the run it was for has ended
        }
    }

    // Log lines carry server text: shown without controls.
    void TaskLog(OwnerRuntime& rt, const TaskLogEntry& entry) override {
        if (!target_.empty() && entry.TaskId != target_) {
            return;
        }
        if (entry.Kind == LogKind::Error) {
            lastErrors_[entry.TaskId] = entry.Text;
        }
        // Leaving https is said once per task also without -v: the user
        // asked for a secure download.
        const std::string downgrade = rt.Context().lang.GetLangText("Log_HttpsDowngrade");
        if (entry.Text.starts_with(downgrade) && downgradeWarned_.insert(entry.TaskId).second) {
            EndBar();
            io.Err("vardane-cli: task " + entry.TaskId + ": " + DisplayText(entry.Text) + "\n");
        }
        if (!verbose_) {
            return;
        }
        EndBar();
        io.Out("[" + entry.TaskId + "/" + IntToText(entry.ThreadNo + 1) + "] " +
               DisplayText(entry.Text) + "\n");
    }

    std::vector<std::string> DrivenTasks() const override {
        return target_.empty() ? started : std::vector<std::string>{target_};
    }

    std::optional<int> Result(OwnerRuntime& rt) override {
        MainFrame& frame = rt.Frame();
        if (interrupted) {
            // Over once the stopped tasks have ended; tasks of others run on.
            bool busy =
                stoppedAll && (AnySlotBusy(frame) || frame.Scheduler().RunningWorkerThreads() > 0);
            for (const std::string& id : DrivenTasks()) {
                busy = busy || frame.Scheduler().SlotOfTask(id) >= 0;
            }
            if (busy) {
                return std::nullopt;
            }
            EndBar();
            return kStatusInterrupted;
        }
        if (!target_.empty()) {
            // The end notice, or failing that the queue's state once the task
            // holds no slot: a task that ended without a notice still ends
            // the command.
            const QueuedTask* task = frame.Queue().Find(target_);
            if (!targetState_ && frame.Scheduler().SlotOfTask(target_) < 0 &&
                (task == nullptr ||
                 (task->State != TaskState::Running && task->State != TaskState::Waiting))) {
                targetState_ = task == nullptr ? TaskState::Stopped : task->State;
            }
            if (!targetState_) {
                return std::nullopt;
            }
            EndBar();
            if (*targetState_ == TaskState::Completed) {
                return kStatusOk;
            }
            ReportFailure(target_);
            return kStatusFailed;
        }
        if (stay_ || rt.Frame().Scheduler().HasActiveTasks()) {
            return std::nullopt;
        }
        EndBar();
        for (const std::string& id : failed_) {
            ReportFailure(id);
        }
        return failed_.empty() ? kStatusOk : kStatusFailed;
    }

  private:
    // Once, on a terminal: the global limit is what holds the download back
    // (the five-second average total speed has reached 90% of it), and how
    // to lift it. A newcomer's first download otherwise just looks slow.
    void NoticeLimit(OwnerRuntime& rt) {
        if (limitNoticed_) {
            return;
        }
        AppContext& ctx = rt.Context();
        bool on;
        int64_t limit;
        double average;
        {
            std::lock_guard lock(ctx.SpeedLock);
            on = ctx.settings.SpeedLimit;
            limit = ctx.SpeedLimitKB;
            average = ctx.AvgSpeedKB;
        }
        if (!on || average < 0.9 * static_cast<double>(limit)) {
            return;
        }
        limitNoticed_ = true;
        EndBar();
        io.Out("The speed limit of " + IntToText(limit) +
               " KB/s holds this download back: 'vardane-cli limit off' lifts it.\n");
    }
    static bool AnySlotBusy(MainFrame& frame) {
        for (int i = 0; i < kTaskSlots; ++i) {
            if (frame.Scheduler().IsSlotBusy(i)) {
                return true;
            }
        }
        return false;
    }
    // The task's last error line: without -v it is the only reason shown.
    void ReportFailure(const std::string& id) {
        auto it = lastErrors_.find(id);
        if (it != lastErrors_.end()) {
            io.Err("vardane-cli: task " + id + ": " + DisplayText(it->second) + "\n");
        }
    }
    void EndBar() {
        if (barShown_) {
            io.Out("\n");
            barShown_ = false;
        }
    }

  public:
    // Without a target: the tasks this command started.
    std::vector<std::string> started;

  private:
    std::string target_;
    bool verbose_;
    bool stay_;
    bool barShown_ = false;
    bool limitNoticed_ = false;
    std::vector<std::string> failed_;
    std::map<std::string, std::string> lastErrors_;
    std::set<std::string> downgradeWarned_;
    std::optional<TaskState> targetState_;
    std::unique_ptr<TlsChoiceHold> tls_;
};

// The --ca-file path made absolute; false (said on io) when it cannot be
// read, before any task is made or started.
bool ResolveCaFile(CliIo& io, std::string& caFile) {
    if (caFile.empty()) {
        return true;
    }
    if (caFile.front() != '/') {
        char cwd[PATH_MAX];
        if (::getcwd(cwd, sizeof cwd) != nullptr) {
            caFile = WithTrailingSlash(cwd) + caFile;
        }
    }
    if (::access(caFile.c_str(), R_OK) != 0) {
        io.Err("vardane-cli: cannot read the CA file " + caFile + "\n");
        return false;
    }
    return true;
}

class GetCommand : public TaskCommand {
  public:
    CLI::App* Register(CLI::App& app) override {
        CLI::App* cmd = app.add_subcommand(
            "get", "Download URL now and wait until it is done (resumes a task of the same URL)");
        cmd->add_option("URL", url_, "HTTP, HTTPS or FTP address")->required();
        options_.Register(*cmd);
        cmd->add_option("--ca-file", caFile_, "Trust the CAs in this PEM file for an https server")
            ->type_name("FILE");
        cmd->add_flag("--insecure", insecure_,
                      "Do not check the https server's certificate (this task only)");
        return cmd;
    }
    std::optional<int> Run(CliEnv& env) override {
        if (!ResolveCaFile(env.io, caFile_)) {
            return kStatusFailed;
        }
        if (insecure_) {
            env.io.Err(
                "vardane-cli: warning: --insecure: the server's certificate is not checked; "
                "anyone on the way can read and change the download\n");
        }
        MainFrame& frame = env.rt.Frame();
        url_ = RestoreSiteLogin(env.rt.Context(), url_);
        std::string id = frame.Queue().DownloadingTaskOfUrl(url_);
        std::unique_ptr<TlsChoiceHold> tls;
        if (!id.empty()) {
            if (!UpdateHeaders(env, id)) {
                return kStatusFailed;
            }
            tls = std::make_unique<TlsChoiceHold>(env.rt.Context(), id, insecure_, caFile_);
            frame.Operations().Start(id);
        } else {
            EdtTaskDlg dialog(env.rt.Context(), env.rt.Questions());
            dialog.SetTaskLookup(&frame.Queue());
            dialog.InitNew(url_);
            dialog.SetImmediately(true);
            if (!options_.Accept(dialog, env.io)) {
                return kStatusFailed;
            }
            id = dialog.TaskId();
            tls = std::make_unique<TlsChoiceHold>(env.rt.Context(), id, insecure_, caFile_);
            frame.Operations().Added(id, true);
        }
        env.rt.AddJob(std::make_unique<TransferJob>(env.io, id, env.verbose, false, std::move(tls)),
                      nullptr);
        return std::nullopt;
    }

  private:
    // A get of a task that exists takes the header values it was given: a
    // browser's session cookie changes from one login to the next. A running
    // task keeps those it runs with.
    bool UpdateHeaders(CliEnv& env, const std::string& id) {
        if (!options_.HeadersGiven()) {
            return true;
        }
        RequestHeaders given;
        options_.ApplyHeaders(given);
        if (!RequestHeadersUsable(given)) {
            env.io.Err("vardane-cli: " +
                       env.rt.Context().lang.GetLangText("EdtTaskDlg_InvalidHeader") + "\n");
            return false;
        }
        const QueuedTask* task = env.rt.Frame().Queue().Find(id);
        if (task != nullptr && task->State == TaskState::Running) {
            return true;
        }
        if (!UpdateProgress(ProgressFilePath(env.rt.Context().AppDir(), id),
                            [this](TaskProgressRecord& r) { options_.ApplyHeaders(r.Headers); })) {
            env.io.Err("vardane-cli: cannot write the task's progress file\n");
            return false;
        }
        return true;
    }

    std::string url_;
    TaskOptions options_;
    std::string caFile_;
    bool insecure_ = false;
};

// start, stop and run share this: the start or stop rule on named tasks of
// the downloading list, or Start All / Stop All.
int StartOrStopTasks(CliEnv& env, const std::vector<std::string>& ids, bool all, bool start) {
    MainFrame& frame = env.rt.Frame();
    if (all) {
        start ? frame.Operations().StartAll() : frame.Operations().StopAll();
        return kStatusOk;
    }
    std::vector<std::string> unknown;
    for (const std::string& id : KnownTasks(frame, ids, TaskList::Downloading, unknown)) {
        start ? frame.Operations().Start(id) : frame.Operations().Stop(id);
    }
    return ReportUnknownTasks(env.io, unknown);
}

// A job watching the tasks that ids (or, with all, every downloading task)
// named: a Ctrl-C of its client stops those.
std::unique_ptr<TransferJob> WatchStarted(CliEnv& env, const std::vector<std::string>& ids,
                                          bool all, bool stay) {
    auto job = std::make_unique<TransferJob>(env.io, "", env.verbose, stay);
    if (all) {
        for (const QueuedTask& task : env.rt.Frame().Queue().Tasks(TaskList::Downloading)) {
            job->started.push_back(task.Id);
        }
    } else {
        job->started = ids;
    }
    return job;
}

class RunCommand : public TaskCommand {
  public:
    CLI::App* Register(CLI::App& app) override {
        CLI::App* cmd = app.add_subcommand(
            "run", "Start up, start the named tasks and run until no task runs or waits");
        cmd->add_option("ID", ids_, "Tasks to start");
        cmd->add_flag("--all", all_, "Start every task of the downloading list");
        cmd->add_flag("--stay", stay_,
                      "Keep running (and serving other vardane-cli commands) until Ctrl-C");
        return cmd;
    }
    bool StartsDownloadsAtStart() const override { return true; }
    std::optional<int> Run(CliEnv& env) override {
        if (!ids_.empty() || all_) {
            if (int status = StartOrStopTasks(env, ids_, all_, true)) {
                return status;
            }
        }
        env.rt.AddJob(WatchStarted(env, ids_, all_, stay_), nullptr);
        return std::nullopt;
    }

  private:
    std::vector<std::string> ids_;
    bool all_ = false;
    bool stay_ = false;
};

// start and stop: the start or stop rule on named tasks, or Start All / Stop
// All.
class StartStopCommand : public TaskCommand {
  public:
    explicit StartStopCommand(bool start) : start_(start) {}
    CLI::App* Register(CLI::App& app) override {
        CLI::App* cmd =
            start_
                ? app.add_subcommand(
                      "start", "Start tasks (without a running instance: and run until they end)")
                : app.add_subcommand("stop", "Stop tasks (--all: Stop All)");
        cmd->add_option("ID", ids_, "Task ids");
        cmd->add_flag("--all", all_,
                      start_ ? "Every task of the downloading list"
                             : "Every task; no waiting task starts in their place");
        return cmd;
    }
    std::optional<int> CheckUsage(CliIo& io) override {
        if (ids_.empty() && !all_) {
            io.Err(std::string("vardane-cli: ") + (start_ ? "start" : "stop") +
                   " needs task ids or --all\n");
            return kStatusUsage;
        }
        return std::nullopt;
    }
    std::optional<int> Run(CliEnv& env) override {
        int status = StartOrStopTasks(env, ids_, all_, start_);
        if (!start_ || env.forwarded || status != kStatusOk) {
            return status;
        }
        // Nobody else would run them: this process does, until they end.
        env.rt.AddJob(WatchStarted(env, ids_, all_, false), nullptr);
        return std::nullopt;
    }

  private:
    bool start_;
    std::vector<std::string> ids_;
    bool all_ = false;
};

}  // namespace

std::unique_ptr<TaskCommand> MakeGetCommand() {
    return std::make_unique<GetCommand>();
}

void AddRunCommands(std::vector<std::unique_ptr<TaskCommand>>& commands) {
    commands.push_back(std::make_unique<StartStopCommand>(true));
    commands.push_back(std::make_unique<StartStopCommand>(false));
    commands.push_back(std::make_unique<RunCommand>());
}

}  // namespace vardane
