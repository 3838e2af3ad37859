// vardane-cli: the headless front end. The first process on a data root owns
// it and runs the command itself; a later one hands its command line to the
// owner and prints what comes back.
#include <unistd.h>

#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "app/single_instance.h"
#include "cli/cli_io.h"
#include "cli/cli_runtime.h"
#include "cli/command_line.h"
#include "cli/forwarding.h"
#include "cli/password_input.h"
#include "platform/data_root.h"
#include "settings/app_context.h"

namespace vardane {
namespace {

int RunAsOwner(const DataRoot& root, std::unique_ptr<CInstanceLock> lock, CommandLine& line,
               CliIo& io) {
    CAppContext ctx(root);
    CliRuntime rt(ctx, std::move(lock));
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
    // Ctrl-C is read from a signalfd by the loop, in every thread's stead.
    BlockTerminationSignals();
    const char* argv0 = argc > 0 ? argv[0] : nullptr;
    std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
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
    int signalFd = OpenTerminationSignalFd();
    // The owner may be going away just as this process arrives: try again.
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (auto lock = CInstanceLock::TryAcquire(root.AppDir)) {
            close(signalFd);
            return RunAsOwner(root, std::move(lock), *line, io);
        }
        int fd = ConnectToInstance(root.AppDir);
        if (fd >= 0) {
            std::optional<int> status = ForwardCommand(fd, args, io, signalFd);
            close(fd);
            if (status) {
                return *status;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    io.Err("vardane-cli: another process holds " + root.AppDir + " and does not answer\n");
    return kStatusFailed;
}
