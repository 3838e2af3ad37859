#include "cli/cli_runtime.h"

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <chrono>

#include "cli/forwarding.h"
#include "dialogs/edit_category_dialog.h"
#include "dialogs/edit_task_dialog.h"
#include "platform/display_text.h"
#include "platform/text.h"
#include "settings/app_context.h"

namespace vardane {

struct CliRuntime::Client {
    Client(CliRuntime& runtime, int fd, const ForwardRequest& request)
        : fd(fd), io(runtime, fd, request) {}
    ~Client() { close(fd); }
    int fd;
    SocketIo io;
    bool finished = false;
};

void BlockTerminationSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

int OpenTerminationSignalFd() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
}

CliRuntime::CliRuntime(CAppContext& ctx, std::unique_ptr<CInstanceLock> lock)
    : ctx_(ctx), lock_(std::move(lock)), engine_(MakeDownloadEngine()) {
    signalFd_ = OpenTerminationSignalFd();
}

CliRuntime::~CliRuntime() {
    Close();
    frame_.reset();
    clients_.clear();
    if (signalFd_ >= 0) {
        close(signalFd_);
    }
}

void CliRuntime::Start(bool allowDownloadAtStart, IQuestions* frameQuestions) {
    frame_ = std::make_unique<CMainFrame>(
        ctx_, loop_, frameQuestions != nullptr ? *frameQuestions : questions_, *this, *engine_);
    StartOptions options;
    options.AllowDownloadAtStart = allowDownloadAtStart;
    frame_->Create(options);
}

void CliRuntime::Close() {
    if (frame_ && !closed_) {
        closed_ = true;
        frame_->Close();
    }
}

std::optional<int> CliRuntime::RunCommand(const std::function<std::optional<int>()>& run,
                                          std::function<void(int)> done) {
    const size_t jobsBefore = jobs_.size();
    std::optional<int> status = run();
    if (!status) {
        if (jobs_.size() == jobsBefore) {
            return kStatusFailed;
        }
        jobs_.back().done = std::move(done);
    }
    return status;
}

void CliRuntime::AddJob(std::unique_ptr<CliJob> job, std::function<void(int)> done) {
    jobs_.push_back(Job{std::move(job), std::move(done)});
}

void CliRuntime::Serve() {
    using Clock = std::chrono::steady_clock;
    auto nextTick = Clock::now() + std::chrono::seconds(1);
    while (!jobs_.empty()) {
        bool busy = false;
        for (Job& job : jobs_) {
            busy = job.job->Step(*this) || busy;
        }
        auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(nextTick - Clock::now());
        PollOnce(busy ? 0 : static_cast<int>(std::max<int64_t>(0, wait.count())));
        if (Clock::now() >= nextTick) {
            nextTick += std::chrono::seconds(1);
            for (Job& job : jobs_) {
                job.job->Tick(*this);
            }
        }
        FinishJobs();
    }
}

bool CliRuntime::ServeOnce() {
    using Clock = std::chrono::steady_clock;
    bool busy = false;
    for (Job& job : jobs_) {
        busy = job.job->Step(*this) || busy;
    }
    PollOnce(0);
    const auto now = Clock::now();
    if (now >= nextTick_) {
        nextTick_ = now + std::chrono::seconds(1);
        for (Job& job : jobs_) {
            job.job->Tick(*this);
        }
    }
    FinishJobs();
    return busy;
}

bool CliRuntime::Polled(const Client& client) {
    return !client.finished && !client.io.Lost();
}

std::vector<int> CliRuntime::ClientFds() const {
    std::vector<int> fds;
    for (const auto& client : clients_) {
        if (Polled(*client)) {
            fds.push_back(client->fd);
        }
    }
    return fds;
}

void CliRuntime::PollOnce(int timeoutMs) {
    std::vector<pollfd> fds;
    fds.push_back({loop_.WakeFd(), POLLIN, 0});
    fds.push_back({signalFd_, POLLIN, 0});
    fds.push_back({lock_ ? lock_->ListenFd() : -1, POLLIN, 0});
    std::vector<Client*> polled;
    for (auto& client : clients_) {
        if (Polled(*client)) {
            fds.push_back({client->fd, POLLIN, 0});
            polled.push_back(client.get());
        }
    }
    if (poll(fds.data(), fds.size(), timeoutMs) <= 0) {
        loop_.Pump();
        return;
    }
    loop_.Pump();
    if (fds[1].revents & POLLIN) {
        signalfd_siginfo info;
        while (read(signalFd_, &info, sizeof(info)) > 0) {
        }
        OnTerminationSignal();
    }
    if (fds[2].revents & POLLIN) {
        AcceptClient();
    }
    for (size_t i = 0; i < polled.size(); ++i) {
        if (fds[3 + i].revents & (POLLIN | POLLHUP | POLLERR)) {
            ReadClient(*polled[i]);
        }
    }
}

void CliRuntime::FinishJobs() {
    for (auto it = jobs_.begin(); it != jobs_.end();) {
        std::optional<int> result = it->job->Result(*this);
        if (!result) {
            ++it;
            continue;
        }
        auto done = std::move(it->done);
        it = jobs_.erase(it);
        if (done) {
            done(*result);
        }
    }
    clients_.remove_if([](const std::unique_ptr<Client>& c) { return c->finished; });
}

void CliRuntime::Interrupt(CliIo* only) {
    bool stopTasks = only == nullptr;
    for (Job& job : jobs_) {
        if (only == nullptr || &job.job->io == only) {
            job.job->interrupted = true;
            stopTasks = stopTasks || job.job->DrivesTasks();
        }
    }
    if (stopTasks) {
        frame_->SelectView(TaskView::Downloading);
        frame_->TaskCommand(TaskCommandKind::Stop, true);
    }
}

bool CliRuntime::WaitReadable(int fd) {
    for (;;) {
        pollfd fds[2] = {{fd, POLLIN, 0}, {loop_.WakeFd(), POLLIN, 0}};
        if (poll(fds, 2, 1000) < 0) {
            return false;
        }
        loop_.Pump();
        if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
            return true;
        }
    }
}

void CliRuntime::AcceptClient() {
    int fd = lock_->Accept();
    if (fd < 0) {
        return;
    }
    ForwardRequest request;
    if (!ReadForwardRequest(fd, request) || !executor_) {
        close(fd);
        return;
    }
    if (!request.HandedUrl.empty()) {
        frame_->OnAddressHandedOver(request.HandedUrl);
        SendFrame(fd, 'X', "0");
        close(fd);
        return;
    }
    auto client = std::make_unique<Client>(*this, fd, request);
    Client* raw = client.get();
    std::optional<int> status = RunCommand([&] { return executor_(request.Args, raw->io); },
                                           [raw](int result) {
                                               if (!raw->io.Lost()) {
                                                   SendFrame(raw->fd, 'X', IntToText(result));
                                               }
                                               raw->finished = true;
                                           });
    if (!status) {
        clients_.push_back(std::move(client));
        return;
    }
    SendFrame(fd, 'X', IntToText(*status));
}

void CliRuntime::ReadClient(Client& client) {
    char type = 0;
    std::string payload;
    if (!ReadFrame(client.fd, type, payload)) {
        // The other process is gone; its job goes on without an audience.
        client.io.MarkLost();
        return;
    }
    if (type == 'I') {
        Interrupt(&client.io);
    }
}

void CliRuntime::OnTaskEnded(const std::string& id, int state) {
    for (Job& job : jobs_) {
        job.job->TaskEnded(*this, id, state);
    }
}

void CliRuntime::ReportError(const std::string& text) {
    // The text may name a file or folder from a task record.
    std::fprintf(stderr, "vardane-cli: %s\n", DisplayText(text).c_str());
}

void CliRuntime::OnTaskLog(const TaskLogEntry& entry) {
    for (Job& job : jobs_) {
        job.job->TaskLog(*this, entry);
    }
}

// Without a dialog the New task flow takes the defaults: the task is added,
// and started when DownloadImmediately says so.
void CliRuntime::OpenNewTaskDialog(const std::string& url) {
    CEdtTaskDlg dialog(ctx_, questions_);
    dialog.InitNew(url);
    if (dialog.Ok()) {
        frame_->OnNewTaskAdded(dialog.TaskId(), dialog.StartImmediately());
    }
}

std::optional<std::string> CliRuntime::ChooseImportFile(const std::string& /*filter*/) {
    std::optional<std::string> file = std::move(pendingImportFile);
    pendingImportFile.reset();
    return file;
}

void CliRuntime::RunCategoryNameDialog(CEdtCatDlg& dialog) {
    if (!pendingCategoryName) {
        return;
    }
    dialog.SetEditText(*pendingCategoryName);
    pendingCategoryName.reset();
    dialog.Ok(questions_);
}

}  // namespace vardane
