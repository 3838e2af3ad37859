// vardane-cli: the headless front end. Parses the command line and runs the
// command it names.
#include <CLI/CLI.hpp>
#include <memory>
#include <string>
#include <vector>

#include "cli/cli_context.h"
#include "cli/config_command.h"

int main(int argc, char** argv) {
    using namespace vardane;
    CLI::App app("Vardane download manager, headless front end", "vardane-cli");
    app.fallthrough();  // --home may also follow the command
    app.require_subcommand(1);
    CliContext context(argc > 0 ? argv[0] : nullptr);
    context.AddGlobalOptions(app);

    std::vector<std::unique_ptr<CliCommand>> commands;
    commands.push_back(std::make_unique<ConfigCommand>());
    std::vector<CLI::App*> subcommands;
    for (auto& command : commands) {
        subcommands.push_back(command->Register(app));
    }

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == 0) {
            return app.exit(e);  // --help
        }
        std::vector<std::string> rest = app.remaining();
        if (app.get_subcommands().empty() && !rest.empty() && !rest.front().empty()) {
            bool option = rest.front().front() == '-';
            return UsageError(std::string(option ? "unknown option '" : "unknown command '") +
                              rest.front() + "'");
        }
        app.exit(e);
        return kExitUsage;
    }
    for (size_t i = 0; i < commands.size(); ++i) {
        if (subcommands[i]->parsed()) {
            return commands[i]->Run(context);
        }
    }
    return UsageError("no command given");
}
