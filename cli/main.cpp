// vardane-cli: the headless front end. The first process on a data root owns
// it and runs the command itself; a later one hands its command line to the
// owner and prints what comes back.
#include <malloc.h>
#include <poll.h>
#include <unistd.h>

#include <memory>
#include <vector>

#include "app/command_io.h"
#include "app/forwarding.h"
#include "app/owner_runtime.h"
#include "app/single_instance.h"
#include "cli/command_line.h"
#include "cli/native_host.h"
#include "cli/password_input.h"
#include "platform/data_root.h"
#include "settings/app_context.h"

namespace vardane {
namespace {

int RunAsOwner(const DataRoot& root, std::unique_ptr<InstanceLock> lock, CommandLine& line,
               CliIo& io) {
    AppContext ctx(root);
    OwnerRuntime rt(ctx, std::move(lock));
    rt.SetExecutor([&rt](const std::vector<std::string>& args, CliIo& clientIo) {
        return RunForwardedCommand(rt, args, clientIo);
    });
    rt.Start(line.StartsDownloadsAtStart());
    int status = kStatusOk;
    std::optional<int> result =
        rt.RunCommand([&] { return line.Run(rt, io, false); }, [&status](int s) { status = s; });
    if (result) {
        status = *result;
    } else {
        rt.Serve();
    }
    rt.Close();
    return status;
}

}  // namespace
}  // namespace vardane

int main(int argc, char** argv) {
    using namespace vardane;
    // One malloc arena for every thread: the workers allocate next to
    // nothing while bytes flow, and an arena of its own kept about 60 KB
    // resident per worker.
    mallopt(M_ARENA_MAX, 1);
    // Ctrl-C is read from a signalfd by the loop, in every thread's stead.
    BlockTerminationSignals();
    const char* argv0 = argc > 0 ? argv[0] : nullptr;
    std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    if (IsBrowserHostLaunch(args)) {
        args = {"native-host"};
    }
    StdIo io;
    auto line = std::make_unique<CommandLine>();
    if (std::optional<int> status = line->Parse(args, io)) {
        return *status;
    }
    // Read here, before the command may go to another process: standard
    // input and the terminal are this one's.
    if (std::optional<int> status = TakePasswordInput(line, args, io)) {
        return *status;
    }
    DataRoot root = ResolveDataRoot(line->Home(), argv0);
    if (std::optional<int> status = line->RunAlone(io, root)) {
        return *status;
    }
    int signalFd = OpenTerminationSignalFd();
    // The owner may be going away just as this process arrives: try again.
    // Every wait here ends on Ctrl-C or SIGTERM.
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string error;
        if (auto lock = InstanceLock::TryAcquire(root.AppDir, &error)) {
            close(signalFd);
            return RunAsOwner(root, std::move(lock), *line, io);
        }
        if (!error.empty()) {
            io.Err("vardane-cli: " + error + "\n");
            return kStatusFailed;
        }
        int fd = ConnectToInstance(root.AppDir, 3000, signalFd);
        if (fd >= 0) {
            ForwardOutcome outcome = ForwardCommand(fd, args, io, signalFd);
            close(fd);
            if (outcome.interrupted) {
                return outcome.status.value_or(kStatusInterrupted);
            }
            if (outcome.status && outcome.question) {
                // The owner asks nobody: the person here answers, and a yes
                // sends the command again, confirmed.
                std::optional<bool> yes = io.AskYesNo(*outcome.question);
                pollfd signal{signalFd, POLLIN, 0};
                if (poll(&signal, signalFd >= 0 ? 1 : 0, 0) > 0) {
                    return kStatusInterrupted;
                }
                if (!yes || !*yes) {
                    return *outcome.status;
                }
                args.insert(args.begin(), "--yes");
                continue;
            }
            if (outcome.status) {
                return *outcome.status;
            }
        }
        pollfd signal{signalFd, POLLIN, 0};
        if (poll(&signal, signalFd >= 0 ? 1 : 0, 100) > 0) {
            return kStatusInterrupted;
        }
    }
    io.Err("vardane-cli: another process holds " + root.AppDir + " and does not answer\n");
    return kStatusFailed;
}
