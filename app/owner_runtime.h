// The program without a display: the main window model on the data root, its
// window loop driven by poll, the jobs of long-running commands (get, run)
// and, for the process that owns the data root, the requests of other
// vardane-cli processes arriving on the instance socket.
#pragma once

#include <chrono>
#include <functional>
#include <list>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/command_io.h"
#include "app/command_questions.h"
#include "app/forwarding.h"
#include "app/main_frame.h"
#include "app/main_frame_host.h"
#include "app/single_instance.h"
#include "app/task_engine.h"
#include "platform/window_loop.h"
#include "task/request_headers.h"

namespace vardane {

struct AppContext;
class OwnerRuntime;

// Exit statuses of vardane-cli.
inline constexpr int kStatusOk = 0;
inline constexpr int kStatusFailed = 1;  // refused, or the task failed
inline constexpr int kStatusUsage = 2;
inline constexpr int kStatusInterrupted = 3;

// A command that goes on after it returned (get, run, a stand-alone start):
// it watches the tasks until its Result is known.
class CliJob {
  public:
    explicit CliJob(CliIo& io) : io(io) {}
    virtual ~CliJob() = default;
    virtual void Tick(OwnerRuntime& /*rt*/) {}
    // A bounded piece of the job's own work between two looks at the
    // sockets; true while more is waiting, so the loop does not sleep.
    virtual bool Step(OwnerRuntime& /*rt*/) { return false; }
    // The tasks a Ctrl-C of this job's client stops, by id (an import stops
    // only reading; a get its own task).
    virtual std::vector<std::string> DrivenTasks() const { return {}; }
    virtual void TaskEnded(OwnerRuntime& /*rt*/, const std::string& /*id*/, TaskState /*state*/) {}
    virtual void TaskLog(OwnerRuntime& /*rt*/, const TaskLogEntry& /*entry*/) {}
    // The exit status once the job is over.
    virtual std::optional<int> Result(OwnerRuntime& rt) = 0;

    CliIo& io;
    bool interrupted = false;
    // The interrupt was this process's own Ctrl-C: every task was stopped.
    bool stoppedAll = false;
};

// Runs one command line (without the program name) against rt with io;
// returns the exit status, or nullopt when the command left a job behind.
using CommandExecutor =
    std::function<std::optional<int>(const std::vector<std::string>& args, CliIo& io)>;

class OwnerRuntime : public IMainFrameHost {
  public:
    // lock: this process owns the data root and serves other processes.
    OwnerRuntime(AppContext& ctx, std::unique_ptr<InstanceLock> lock);
    ~OwnerRuntime() override;
    OwnerRuntime(const OwnerRuntime&) = delete;
    OwnerRuntime& operator=(const OwnerRuntime&) = delete;

    // Start-up of the main window model. frameQuestions: where the window
    // model's own questions go (nullptr: this runtime's CliQuestions).
    void Start(bool allowDownloadAtStart, IQuestions* frameQuestions = nullptr);
    // Shutdown: stops every task and waits for the workers.
    void Close();

    AppContext& Context() { return ctx_; }
    MainFrame& Frame() { return *frame_; }
    WindowLoop& Loop() { return loop_; }
    CliQuestions& Questions() { return questions_; }
    void SetExecutor(CommandExecutor executor) { executor_ = std::move(executor); }

    // Runs a command: its exit status, or nullopt when it left a job, which
    // then reports to done.
    std::optional<int> RunCommand(const std::function<std::optional<int>()>& run,
                                  std::function<void(int)> done);
    // Adds a job; done runs once with its exit status.
    void AddJob(std::unique_ptr<CliJob> job, std::function<void(int)> done);
    bool HasJobs() const { return !jobs_.empty(); }
    // Runs the loop until every job is over (serving the socket meanwhile).
    void Serve();
    // One pass of Serve without waiting, for a front end with its own event
    // loop: a step of each job, queued calls, signals, new and talking
    // clients, due job ticks. True while a job has more work waiting.
    bool ServeOnce();
    // Readable when another process connects (-1 without the lock).
    int ListenFd() const { return lock_ ? lock_->ListenFd() : -1; }
    // Connected clients and what ServeOnce waits for on each.
    struct ClientWatch {
        int fd;
        bool read;
        bool write;
    };
    std::vector<ClientWatch> ClientWatches() const;
    // Readable when SIGINT or SIGTERM arrived (-1 when none could be made).
    int SignalFd() const { return signalFd_; }
    // Ctrl-C. Of this process (only == nullptr): every job ends as
    // interrupted and Stop All stops the downloads. Of one client: its jobs
    // end as interrupted and only the tasks they drive are stopped, by id.
    void Interrupt(CliIo* only = nullptr);

    // Values the next command hands to the flows it starts.
    std::optional<std::string> pendingImportFile;
    std::optional<std::string> pendingCategoryName;

    // IMainFrameHost
    void OnTaskEnded(const std::string& id, TaskState state) override;
    void OnTaskLog(const TaskLogEntry& entry) override;
    void OpenNewTaskDialog(const std::string& url) override;
    std::optional<std::string> ChooseImportFile(const std::string& filter) override;
    void RunCategoryNameDialog(EdtCatDlg& dialog) override;
    // Printed on this process's standard error.
    void ReportError(const std::string& text) override;

    // Addresses a browser page handed over (cli/browser_commands.cpp). Here
    // each becomes a task (started when startNow and the default start mode
    // say so) and its id is printed; one refused is passed over. Failed when
    // none was added. A window asks its user first and answers at once.
    virtual int OfferLinks(const std::vector<std::string>& urls, const RequestHeaders& headers,
                           bool startNow, CliIo& io);

  protected:
    // SIGINT or SIGTERM arrived: Stop All, and every job ends interrupted.
    virtual void OnTerminationSignal() { Interrupt(nullptr); }

  private:
    struct Job {
        std::unique_ptr<CliJob> job;
        std::function<void(int)> done;
    };
    void PollOnce(int timeoutMs);
    void FinishJobs();
    void AcceptClients();
    void ServeClient(ForwardClient& client);
    void RunClientRequest(ForwardClient& client);
    // Output held for clients is written out before the process goes (a
    // bounded wait).
    void FlushClients();

    AppContext& ctx_;
    std::unique_ptr<InstanceLock> lock_;
    WindowLoop loop_;
    std::unique_ptr<ITaskEngine> engine_;
    CliQuestions questions_;
    std::unique_ptr<MainFrame> frame_;
    CommandExecutor executor_;
    std::list<Job> jobs_;
    std::list<std::unique_ptr<ForwardClient>> clients_;
    int signalFd_ = -1;
    bool closed_ = false;
    bool serving_ = false;
    std::chrono::steady_clock::time_point nextTick_{};
};

// Blocks SIGINT and SIGTERM in the calling thread and every thread started
// after it; they are then read from a signalfd. Call first thing in main.
void BlockTerminationSignals();
// A signalfd for SIGINT and SIGTERM (-1 on failure).
int OpenTerminationSignalFd();

}  // namespace vardane
