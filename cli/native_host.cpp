#include "cli/native_host.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/signalfd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>

#include "app/forwarding.h"
#include "app/owner_runtime.h"
#include "app/single_instance.h"
#include "cli/command_line.h"
#include "cli/native_message.h"
#include "engine/file_name.h"
#include "platform/file.h"
#include "settings/app_context.h"
#include "settings/registry_paths.h"

extern char** environ;

namespace vardane {

namespace {

// The output of one command, kept for the answer.
class CaptureIo : public CliIo {
  public:
    void Out(std::string_view text) override { out.append(text); }
    void Err(std::string_view text) override { err.append(text); }
    bool InputIsTerminal() const override { return false; }
    bool OutputIsTerminal() const override { return false; }
    std::optional<bool> AskYesNo(const std::string& /*text*/) override { return std::nullopt; }
    std::string WorkingDirectory() const override { return "/"; }

    std::string out, err;
};

// Where a command ran.
enum class Where { Owner, Here, Nowhere };

struct Delivery {
    Where where = Where::Nowhere;
    int status = kStatusFailed;
    std::string out, err;
};

// How long a window that was started may take to answer.
constexpr auto kWindowStartTime = std::chrono::seconds(30);
// How long an owner that holds the lock may take to listen.
constexpr int kOwnerListenMs = 5000;

std::vector<std::string> LinesOf(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        if (end > start) {
            lines.push_back(text.substr(start, end - start));
        }
        start = end + 1;
    }
    return lines;
}

// What a failed command said, as one line for the browser.
std::string Reason(const Delivery& d, const char* fallback) {
    std::string text;
    for (const std::string& line : LinesOf(d.err)) {
        text += (text.empty() ? "" : " ") + line;
    }
    return text.empty() ? fallback : text;
}

bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

bool HasDisplay() {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0') {
            return true;
        }
    }
    return false;
}

// Starts path with args in a session of its own, its standard streams on
// /dev/null (never the browser's pipes) and default signal handling. The
// pid, or -1.
pid_t SpawnDetached(const std::string& path, const std::vector<std::string>& args) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(path.c_str()));
    for (const std::string& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&files, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&files, 2, "/dev/null", O_WRONLY, 0);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setflags(&attr,
                             POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    pid_t pid = -1;
    if (posix_spawn(&pid, path.c_str(), &files, &attr, argv.data(), environ) != 0) {
        pid = -1;
    }
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&files);
    return pid;
}

class NativeHost {
  public:
    NativeHost(const DataRoot& root, int signalFd) : root_(root), signalFd_(signalFd) {}

    std::string Answer(const BrowserRequest& request) {
        // Windows and runners started earlier that have ended.
        while (waitpid(-1, nullptr, WNOHANG) > 0) {
        }
        switch (request.type) {
            case BrowserRequest::Type::Download:
                return Download(request);
            case BrowserRequest::Type::Links:
                return Links(request);
            case BrowserRequest::Type::Settings:
                return SettingsAnswer(MonitorsBrowser());
            case BrowserRequest::Type::Invalid:
                break;
        }
        return ErrorAnswer(request.Error);
    }

  private:
    std::string Download(const BrowserRequest& request) {
        // Added stopped, then started by the start rule: a task the settings
        // would leave stopped still starts, as the browser's download would.
        std::vector<std::string> args = {"add", "--manual"};
        AddHeaderOptions(request.Headers, args);
        // The browser's name comes from the server, and Firefox hands over
        // a whole local path.
        const std::string name = SanitizeFileName(request.FileName);
        if (!name.empty()) {
            args.push_back("--name=" + name);
        }
        args.push_back("--");
        args.push_back(request.Url);
        const Delivery added = Deliver(args);
        const std::vector<std::string> ids = LinesOf(added.out);
        if (added.status != kStatusOk || ids.empty()) {
            return ErrorAnswer(Reason(added, "the task was not added"));
        }
        if (!Start(added.where, ids)) {
            return ErrorAnswer("task " + ids[0] + " was added but could not be started");
        }
        return DownloadAnswer(ids[0]);
    }

    std::string Links(const BrowserRequest& request) {
        std::vector<std::string> args = {"links"};
        AddHeaderOptions(request.Headers, args);
        args.push_back("--");
        args.insert(args.end(), request.Links.begin(), request.Links.end());
        const Delivery offered = Deliver(args);
        if (offered.status != kStatusOk) {
            return ErrorAnswer(Reason(offered, "the links were not taken"));
        }
        // A window answers at once and asks its user; an owner without one
        // adds the tasks and names them.
        const std::vector<std::string> ids = LinesOf(offered.out);
        if (offered.where == Where::Here && !ids.empty() && !Start(offered.where, ids)) {
            return ErrorAnswer("the tasks were added but could not be started");
        }
        return LinksAnswer(offered.where == Where::Owner && ids.empty() ? request.Links.size()
                                                                        : ids.size());
    }

    static void AddHeaderOptions(const RequestHeaders& h, std::vector<std::string>& args) {
        if (!h.Cookie.empty()) {
            args.push_back("--cookie=" + h.Cookie);
        }
        if (!h.Referer.empty()) {
            args.push_back("--referer=" + h.Referer);
        }
        if (!h.UserAgent.empty()) {
            args.push_back("--user-agent=" + h.UserAgent);
        }
    }

    // Tasks added by the owner are started there; those added here by a
    // vardane-cli left running them, as a stand-alone start does.
    bool Start(Where where, const std::vector<std::string>& ids) {
        std::vector<std::string> args = {"start"};
        args.insert(args.end(), ids.begin(), ids.end());
        if (where == Where::Owner) {
            const int fd = ConnectToInstance(root_.AppDir, kOwnerListenMs, signalFd_);
            if (fd >= 0) {
                return Forward(fd, args).status == kStatusOk;
            }
        }
        args.insert(args.begin(), {"--home", root_.AppDir});
        return SpawnDetached(root_.AppPath, args) > 0;
    }

    // The command in the owner of the data root; without one, in a window
    // started for it, else in this process as the owner for a moment.
    Delivery Deliver(const std::vector<std::string>& args) {
        int fd = ConnectToInstance(root_.AppDir, 0, signalFd_);
        if (fd < 0 && HasDisplay()) {
            fd = StartWindow();
        }
        if (fd >= 0) {
            return Forward(fd, args);
        }
        std::string error;
        if (std::unique_ptr<InstanceLock> lock = InstanceLock::TryAcquire(root_.AppDir, &error)) {
            return RunHere(std::move(lock), args);
        }
        if (error.empty()) {
            fd = ConnectToInstance(root_.AppDir, kOwnerListenMs, signalFd_);
            if (fd >= 0) {
                return Forward(fd, args);
            }
            error = "the process that owns " + root_.AppDir + " does not answer";
        }
        Delivery d;
        d.err = error;
        return d;
    }

    Delivery Forward(int fd, const std::vector<std::string>& args) {
        CaptureIo io;
        const ForwardOutcome outcome = ForwardCommand(fd, args, io, signalFd_);
        close(fd);
        Delivery d;
        d.where = Where::Owner;
        d.status = outcome.status.value_or(kStatusFailed);
        d.out = std::move(io.out);
        d.err = outcome.status ? std::move(io.err) : "the owner of the data root went away";
        return d;
    }

    Delivery RunHere(std::unique_ptr<InstanceLock> lock, const std::vector<std::string>& args) {
        CaptureIo io;
        Delivery d;
        d.where = Where::Here;
        AppContext ctx(root_);
        OwnerRuntime rt(ctx, std::move(lock));
        rt.SetExecutor([&rt](const std::vector<std::string>& forwarded, CliIo& clientIo) {
            return RunForwardedCommand(rt, forwarded, clientIo);
        });
        rt.Start(false);
        CommandLine line;
        std::optional<int> result = line.Parse(args, io);
        if (!result) {
            result = rt.RunCommand([&] { return line.Run(rt, io, false); },
                                   [&d](int status) { d.status = status; });
            if (!result) {
                rt.Serve();
            }
        }
        if (result) {
            d.status = *result;
        }
        rt.Close();
        d.out = std::move(io.out);
        d.err = std::move(io.err);
        return d;
    }

    // Starts the window on this data root and waits until it answers; the
    // connection, or -1 when it ended or did not come up in time.
    int StartWindow() {
        const std::string window = FolderOf(root_.AppPath) + "vardane";
        if (access(window.c_str(), X_OK) != 0) {
            return -1;
        }
        const pid_t pid = SpawnDetached(window, {"--home", root_.AppDir});
        if (pid <= 0) {
            return -1;
        }
        const auto deadline = std::chrono::steady_clock::now() + kWindowStartTime;
        while (std::chrono::steady_clock::now() < deadline) {
            const int fd = ConnectToInstance(root_.AppDir, 250, signalFd_);
            if (fd >= 0) {
                return fd;
            }
            if (waitpid(pid, nullptr, WNOHANG) == pid) {
                // No display after all, or another owner came first.
                return ConnectToInstance(root_.AppDir, 0, signalFd_);
            }
            pollfd signal{signalFd_, POLLIN, 0};
            if (poll(&signal, signalFd_ >= 0 ? 1 : 0, 0) > 0) {
                return -1;
            }
        }
        return -1;
    }

    // "Monitor the browser", as the settings store holds it now.
    bool MonitorsBrowser() {
        AppContext ctx(root_);
        RegistryKey key(ctx.registry);
        return key.Open(RegRoot::CurrentUser, GroupKeyPath("General"), false) &&
               key.QueryString("MonitorIE") == "1";
    }

    DataRoot root_;
    int signalFd_;
};

}  // namespace

bool IsBrowserHostLaunch(const std::vector<std::string>& args) {
    return !args.empty() && (args[0].starts_with("chrome-extension://") ||
                             args[0].ends_with("/" + std::string(kNativeHostName) + ".json"));
}

int RunNativeHost(const DataRoot& root, int in, int out, int signalFd) {
    NativeHost host(root, signalFd);
    NativeMessageDecoder decoder;
    std::string buffer(64 * 1024, '\0');
    std::string message;
    for (;;) {
        pollfd fds[2] = {{in, POLLIN, 0}, {signalFd, POLLIN, 0}};
        if (poll(fds, signalFd >= 0 ? 2 : 1, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return kStatusFailed;
        }
        if (signalFd >= 0 && (fds[1].revents & POLLIN)) {
            return kStatusInterrupted;
        }
        const ssize_t n = read(in, buffer.data(), buffer.size());
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
            continue;
        }
        if (n <= 0) {
            // The browser closed the pipe: the normal end.
            return n == 0 ? kStatusOk : kStatusFailed;
        }
        decoder.Feed(std::string_view(buffer.data(), static_cast<size_t>(n)));
        for (;;) {
            const NativeMessageDecoder::Kind kind = decoder.Next(message);
            if (kind == NativeMessageDecoder::Kind::None) {
                break;
            }
            const std::string answer = kind == NativeMessageDecoder::Kind::TooLarge
                                           ? ErrorAnswer("message larger than 1 MiB")
                                           : host.Answer(ParseBrowserRequest(message));
            if (!WriteAll(out, EncodeNativeMessage(answer))) {
                return kStatusFailed;
            }
        }
    }
}

}  // namespace vardane
