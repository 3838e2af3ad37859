#include "cli/command_line.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <sstream>

#include "app/owner_runtime.h"
#include "cli/config_command.h"

namespace vardane {

std::vector<std::unique_ptr<TaskCommand>> MakeTaskCommands() {
    std::vector<std::unique_ptr<TaskCommand>> commands;
    commands.push_back(MakeGetCommand());
    AddListCommands(commands);
    AddRunCommands(commands);
    commands.push_back(MakeCategoriesCommand());
    AddExplorerCommands(commands);
    commands.push_back(MakeConfigCommand());
    commands.push_back(MakeLimitCommand());
    AddBrowserCommands(commands);
    return commands;
}

CommandLine::CommandLine()
    : app_(std::make_unique<CLI::App>("Vardane download manager, headless front end",
                                      "vardane-cli")),
      commands_(MakeTaskCommands()) {
    app_->fallthrough();  // global options may also follow the command
    app_->require_subcommand(1);
    app_->add_option("--home", home_,
                     "Data root folder (default: $VARDANE_HOME, else beside the "
                     "program when writable, else ~/.local/share/vardane)")
        ->type_name("DIR");
    app_->add_flag("-y,--yes", yes_, "Answer yes to every confirmation");
    app_->add_flag("-v,--verbose", verbose_, "Show the protocol log of running tasks");
    for (auto& command : commands_) {
        commandApps_.push_back(command->Register(*app_));
    }
}

CommandLine::~CommandLine() = default;

std::optional<int> CommandLine::Parse(const std::vector<std::string>& args, CliIo& io) {
    std::vector<std::string> reversed(args.rbegin(), args.rend());
    try {
        app_->parse(reversed);
    } catch (const CLI::ParseError& e) {
        std::ostringstream out, err;
        if (e.get_exit_code() == 0) {  // --help
            app_->exit(e, out, err);
            io.Out(out.str());
            return kStatusOk;
        }
        std::vector<std::string> rest = app_->remaining();
        if (app_->get_subcommands().empty() && !rest.empty() && !rest.front().empty()) {
            bool option = rest.front().front() == '-';
            io.Err(std::string("vardane-cli: ") +
                   (option ? "unknown option '" : "unknown command '") + rest.front() +
                   "'\nRun with --help for more information.\n");
            return kStatusUsage;
        }
        app_->exit(e, out, err);
        io.Err(err.str());
        return kStatusUsage;
    }
    for (size_t i = 0; i < commands_.size(); ++i) {
        if (commandApps_[i]->parsed()) {
            return commands_[i]->CheckUsage(io);
        }
    }
    return std::nullopt;
}

std::optional<std::string> CommandLine::Home() const {
    return home_;
}

bool CommandLine::StartsDownloadsAtStart() const {
    for (size_t i = 0; i < commands_.size(); ++i) {
        if (commandApps_[i]->parsed()) {
            return commands_[i]->StartsDownloadsAtStart();
        }
    }
    return false;
}

CommandLine::PasswordInput CommandLine::WantedPassword() const {
    // The deepest parsed command ("sites add", not "sites") holds the options.
    const CLI::App* command = app_.get();
    for (bool deeper = true; deeper;) {
        deeper = false;
        for (const CLI::App* sub : command->get_subcommands()) {
            command = sub;
            deeper = true;
            break;
        }
    }
    const CLI::Option* fromStdin = command->get_option_no_throw("--password-stdin");
    if (fromStdin == nullptr) {
        return PasswordInput::None;
    }
    if (fromStdin->count() > 0) {
        return PasswordInput::Stdin;
    }
    const CLI::Option* user = command->get_option_no_throw("--user");
    const CLI::Option* password = command->get_option_no_throw("--password");
    return user != nullptr && user->count() > 0 && password != nullptr && password->count() == 0
               ? PasswordInput::Prompt
               : PasswordInput::None;
}

std::optional<int> CommandLine::RunAlone(CliIo& io, const DataRoot& root) {
    for (size_t i = 0; i < commands_.size(); ++i) {
        if (commandApps_[i]->parsed()) {
            return commands_[i]->RunAlone(io, root);
        }
    }
    return std::nullopt;
}

std::optional<int> CommandLine::Run(OwnerRuntime& rt, CliIo& io, bool forwarded) {
    for (size_t i = 0; i < commands_.size(); ++i) {
        if (!commandApps_[i]->parsed()) {
            continue;
        }
        CliEnv env{rt, io, forwarded, verbose_};
        rt.Questions().Bind(&io, yes_);
        std::optional<int> status = commands_[i]->Run(env);
        rt.Questions().Bind(nullptr, false);
        return status;
    }
    return kStatusUsage;
}

std::optional<int> RunForwardedCommand(OwnerRuntime& rt, const std::vector<std::string>& args,
                                       CliIo& io) {
    CommandLine forwarded;
    if (std::optional<int> status = forwarded.Parse(args, io)) {
        return status;
    }
    return forwarded.Run(rt, io, true);
}

}  // namespace vardane
