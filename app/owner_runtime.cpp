#include "app/owner_runtime.h"

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>

#include "app/forwarding.h"
#include "dialogs/edit_category_dialog.h"
#include "dialogs/edit_task_dialog.h"
#include "platform/display_text.h"
#include "platform/text.h"
#include "settings/app_context.h"

namespace vardane {

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

OwnerRuntime::OwnerRuntime(AppContext& ctx, std::unique_ptr<InstanceLock> lock)
    : ctx_(ctx), lock_(std::move(lock)), engine_(MakeDownloadEngine()) {
    signalFd_ = OpenTerminationSignalFd();
}

OwnerRuntime::~OwnerRuntime() {
    Close();
    // Jobs speak to their clients to the end.
    jobs_.clear();
    frame_.reset();
    clients_.clear();
    if (signalFd_ >= 0) {
        close(signalFd_);
    }
}

void OwnerRuntime::Start(bool allowDownloadAtStart, IQuestions* frameQuestions) {
    frame_ = std::make_unique<MainFrame>(
        ctx_, loop_, frameQuestions != nullptr ? *frameQuestions : questions_, *this, *engine_);
    StartOptions options;
    options.AllowDownloadAtStart = allowDownloadAtStart;
    frame_->Create(options);
}

void OwnerRuntime::Close() {
    if (frame_ && !closed_) {
        closed_ = true;
        frame_->Close();
    }
}

std::optional<int> OwnerRuntime::RunCommand(const std::function<std::optional<int>()>& run,
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

void OwnerRuntime::AddJob(std::unique_ptr<CliJob> job, std::function<void(int)> done) {
    jobs_.push_back(Job{std::move(job), std::move(done)});
}

void OwnerRuntime::Serve() {
    using Clock = std::chrono::steady_clock;
    auto nextTick = Clock::now() + std::chrono::seconds(1);
    while (!jobs_.empty()) {
        bool busy = false;
        for (Job& job : jobs_) {
            busy = job.job->Step(*this) || busy;
        }
        // Short enough that the clients' deadlines are kept.
        auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(nextTick - Clock::now());
        PollOnce(busy ? 0 : static_cast<int>(std::clamp<int64_t>(wait.count(), 0, 250)));
        if (Clock::now() >= nextTick) {
            nextTick += std::chrono::seconds(1);
            for (Job& job : jobs_) {
                job.job->Tick(*this);
            }
        }
        FinishJobs();
    }
    FlushClients();
}

bool OwnerRuntime::ServeOnce() {
    using Clock = std::chrono::steady_clock;
    // A command run from here never nests another pass.
    if (serving_) {
        return false;
    }
    serving_ = true;
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
    serving_ = false;
    return busy;
}

std::vector<OwnerRuntime::ClientWatch> OwnerRuntime::ClientWatches() const {
    std::vector<ClientWatch> watches;
    for (const auto& client : clients_) {
        if (client->WantsRead() || client->WantsWrite()) {
            watches.push_back({client->Fd(), client->WantsRead(), client->WantsWrite()});
        }
    }
    return watches;
}

void OwnerRuntime::PollOnce(int timeoutMs) {
    std::vector<pollfd> fds;
    fds.push_back({loop_.WakeFd(), POLLIN, 0});
    fds.push_back({signalFd_, POLLIN, 0});
    fds.push_back({lock_ ? lock_->ListenFd() : -1, POLLIN, 0});
    std::vector<ForwardClient*> polled;
    for (auto& client : clients_) {
        const short events = static_cast<short>((client->WantsRead() ? POLLIN : 0) |
                                                (client->WantsWrite() ? POLLOUT : 0));
        if (events != 0) {
            fds.push_back({client->Fd(), events, 0});
            polled.push_back(client.get());
        }
    }
    const int ready = poll(fds.data(), fds.size(), timeoutMs);
    loop_.Pump();
    if (ready > 0) {
        if (fds[1].revents & POLLIN) {
            signalfd_siginfo info;
            while (read(signalFd_, &info, sizeof(info)) > 0) {
            }
            OnTerminationSignal();
            if (closed_) {
                return;
            }
        }
        for (size_t i = 0; i < polled.size(); ++i) {
            const short revents = fds[3 + i].revents;
            if (revents & POLLOUT) {
                polled[i]->Flush();
            }
            if (revents & (POLLIN | POLLHUP | POLLERR)) {
                ServeClient(*polled[i]);
            }
        }
        if (fds[2].revents & POLLIN) {
            AcceptClients();
        }
    }
    const auto now = std::chrono::steady_clock::now();
    for (auto& client : clients_) {
        client->CheckDeadlines(now);
    }
}

void OwnerRuntime::FinishJobs() {
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
    clients_.remove_if(
        [](const std::unique_ptr<ForwardClient>& c) { return c->Done() && !c->busy; });
}

void OwnerRuntime::FlushClients() {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    for (auto& client : clients_) {
        while (client->WantsWrite() && std::chrono::steady_clock::now() < end) {
            pollfd pfd{client->Fd(), POLLOUT, 0};
            poll(&pfd, 1, 100);
            client->Flush();
        }
    }
}

void OwnerRuntime::Interrupt(CliIo* only) {
    std::vector<std::string> driven;
    for (Job& job : jobs_) {
        if (only == nullptr || &job.job->io == only) {
            job.job->interrupted = true;
            job.job->stoppedAll = only == nullptr;
            for (const std::string& id : job.job->DrivenTasks()) {
                driven.push_back(id);
            }
        }
    }
    // Operations by id: what the window shows and selects stays as it was.
    if (only == nullptr) {
        frame_->Operations().StopAll();
        return;
    }
    for (const std::string& id : driven) {
        frame_->Operations().Stop(id);
    }
}

void OwnerRuntime::AcceptClients() {
    // A bounded number per pass: a flood of connections cannot hold the loop.
    for (int i = 0; i < 16; ++i) {
        int fd = lock_->Accept();
        if (fd < 0) {
            return;
        }
        clients_.push_back(std::make_unique<ForwardClient>(fd, std::chrono::steady_clock::now()));
        // Most requests are there already.
        ServeClient(*clients_.back());
    }
}

void OwnerRuntime::ServeClient(ForwardClient& client) {
    const ForwardClient::Input input = client.Read();
    if (input.requestComplete) {
        RunClientRequest(client);
    }
    for (int i = 0; i < input.interrupts; ++i) {
        Interrupt(&client);
    }
}

void OwnerRuntime::RunClientRequest(ForwardClient& client) {
    const ForwardRequest& request = client.Request();
    if (!executor_) {
        client.Finish(kStatusFailed);
        return;
    }
    if (request.HandedOver && request.HandedUrl.empty()) {
        client.Finish(RaiseWindow() ? kStatusOk : kStatusFailed);
        return;
    }
    if (request.HandedOver) {
        frame_->OnAddressHandedOver(request.HandedUrl);
        client.Finish(kStatusOk);
        return;
    }
    client.busy = true;
    ForwardClient* raw = &client;
    std::optional<int> status = RunCommand([&] { return executor_(request.Args, client); },
                                           [raw](int result) {
                                               raw->busy = false;
                                               raw->Finish(result);
                                           });
    if (status) {
        client.busy = false;
        client.Finish(*status);
    }
}

void OwnerRuntime::OnTaskEnded(const std::string& id, TaskState state) {
    for (Job& job : jobs_) {
        job.job->TaskEnded(*this, id, state);
    }
}

void OwnerRuntime::ReportError(const std::string& text) {
    // The text may name a file or folder from a task record.
    std::fprintf(stderr, "vardane-cli: %s\n", DisplayText(text).c_str());
}

void OwnerRuntime::OnTaskLog(const TaskLogEntry& entry) {
    for (Job& job : jobs_) {
        job.job->TaskLog(*this, entry);
    }
}

// Without a dialog the New task flow takes the defaults: the task is added,
// and started when DownloadImmediately says so.
void OwnerRuntime::OpenNewTaskDialog(const std::string& url) {
    EdtTaskDlg dialog(ctx_, questions_);
    dialog.SetTaskLookup(&frame_->Queue());
    dialog.InitNew(url);
    if (dialog.Ok()) {
        frame_->OnNewTaskAdded(dialog.TaskId(), dialog.StartImmediately());
    }
}

std::optional<std::string> OwnerRuntime::ChooseImportFile(const std::string& /*filter*/) {
    std::optional<std::string> file = std::move(pendingImportFile);
    pendingImportFile.reset();
    return file;
}

void OwnerRuntime::RunCategoryNameDialog(EdtCatDlg& dialog) {
    if (!pendingCategoryName) {
        return;
    }
    dialog.SetEditText(*pendingCategoryName);
    pendingCategoryName.reset();
    dialog.Ok(questions_);
}

int OwnerRuntime::OfferLinks(const std::vector<std::string>& urls, const RequestHeaders& headers,
                             bool startNow, CliIo& io) {
    int added = 0;
    for (const std::string& url : urls) {
        EdtTaskDlg dialog(ctx_, questions_);
        dialog.InitNew(url);
        dialog.SetHeaders(headers);
        // A page repeats links and holds some that are no download: those
        // are said and passed over.
        if (!dialog.Ok()) {
            continue;
        }
        io.Out(dialog.TaskId() + "\n");
        frame_->Operations().Added(dialog.TaskId(), dialog.StartImmediately() && startNow);
        ++added;
    }
    return added > 0 || urls.empty() ? kStatusOk : kStatusFailed;
}

}  // namespace vardane
