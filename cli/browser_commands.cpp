// Commands for the browser extension: native-host (the program a browser
// starts), browser install (the manifests that tell browsers where it is)
// and links (a page's links handed over by the host).
#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <csignal>
#include <cstdlib>

#include "app/owner_runtime.h"
#include "cli/browser_install.h"
#include "cli/native_host.h"
#include "cli/task_command.h"
#include "dialogs/edit_task_dialog.h"
#include "platform/file.h"
#include "settings/app_context.h"

namespace vardane {

namespace {

// Refused when another process hands it over: it belongs to the process the
// browser started.
int RefuseForwarded(CliIo& io, const char* command) {
    io.Err(std::string("vardane-cli: ") + command + " runs in the process that was started\n");
    return kStatusUsage;
}

class NativeHostCommand : public TaskCommand {
  public:
    CLI::App* Register(CLI::App& app) override {
        CLI::App* cmd = app.add_subcommand(
            "native-host", "Serve the browser extension on standard input and output");
        cmd->allow_extras();  // what the browser adds (the extension's origin)
        return cmd;
    }
    std::optional<int> Run(CliEnv& env) override { return RefuseForwarded(env.io, "native-host"); }
    std::optional<int> RunAlone(CliIo& /*io*/, const DataRoot& root) override {
        // Standard output carries the answers only: the host keeps its own
        // copies of the browser's pipes, and anything else that writes to
        // standard output or reads standard input meets stderr and
        // /dev/null instead.
        std::signal(SIGPIPE, SIG_IGN);
        const int in = fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 3);
        const int out = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
        const int null = open("/dev/null", O_RDONLY | O_CLOEXEC);
        if (in < 0 || out < 0 || null < 0) {
            return kStatusFailed;
        }
        dup2(null, STDIN_FILENO);
        dup2(STDERR_FILENO, STDOUT_FILENO);
        close(null);
        const int signalFd = OpenTerminationSignalFd();
        const int status = RunNativeHost(root, in, out, signalFd);
        close(signalFd);
        return status;
    }
};

std::string HomeFolder() {
    if (const char* home = std::getenv("HOME"); home != nullptr && *home == '/') {
        return home;
    }
    const passwd* entry = getpwuid(getuid());
    return entry != nullptr && entry->pw_dir != nullptr ? entry->pw_dir : "";
}

class BrowserCommand : public TaskCommand {
  public:
    CLI::App* Register(CLI::App& app) override {
        CLI::App* cmd =
            app.add_subcommand("browser", "Connect the browser extension to this vardane-cli");
        cmd->require_subcommand(1);
        CLI::App* install = cmd->add_subcommand(
            "install", "Write the host manifests for Firefox and Chromium (system-wide as root)");
        install->add_flag("--user", user_, "Into your own browser folders below $HOME");
        return cmd;
    }
    std::optional<int> Run(CliEnv& env) override { return RefuseForwarded(env.io, "browser"); }
    std::optional<int> RunAlone(CliIo& io, const DataRoot& root) override {
        const std::string home = HomeFolder();
        if (user_ && home.empty()) {
            io.Err("vardane-cli: no home folder: set HOME\n");
            return kStatusFailed;
        }
        int status = kStatusOk;
        for (const HostManifest& manifest : HostManifests(root.AppPath, user_, home)) {
            const std::string folder = FolderOf(manifest.Path);
            // Browsers read it: no secret inside.
            if (!MakeDirectories(folder) || !WriteFileAtomic(manifest.Path, manifest.Text, 0644)) {
                io.Err("vardane-cli: cannot write " + manifest.Path +
                       (user_ ? "\n" : " (run as root, or give --user)\n"));
                status = kStatusFailed;
                continue;
            }
            io.Out("wrote " + manifest.Path + "\n");
        }
        return status;
    }

  private:
    bool user_ = false;
};

class LinksCommand : public TaskCommand {
  public:
    CLI::App* Register(CLI::App& app) override {
        CLI::App* cmd = app.add_subcommand(
            "links",
            "Offer addresses from a browser page: the window asks once, else all are "
            "added and their ids printed");
        cmd->group("");  // the native host's, not a person's
        cmd->add_option("URL", urls_, "Addresses")->required();
        cmd->add_option("--referer", headers_.Referer, "The page they are on");
        cmd->add_option("--cookie", headers_.Cookie, "Cookie line for their host");
        cmd->add_option("--user-agent", headers_.UserAgent, "The browser's User-Agent");
        return cmd;
    }
    std::optional<int> Run(CliEnv& env) override {
        return env.rt.OfferLinks(urls_, headers_, env.forwarded, env.io);
    }

  private:
    std::vector<std::string> urls_;
    RequestHeaders headers_;
};

}  // namespace

void AddBrowserCommands(std::vector<std::unique_ptr<TaskCommand>>& commands) {
    commands.push_back(std::make_unique<NativeHostCommand>());
    commands.push_back(std::make_unique<BrowserCommand>());
    commands.push_back(std::make_unique<LinksCommand>());
}

}  // namespace vardane
