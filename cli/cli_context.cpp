#include "cli/cli_context.h"

#include <CLI/CLI.hpp>
#include <iostream>

#include "platform/data_root.h"
#include "settings/app_context.h"
#include "settings/settings_startup.h"

namespace vardane {

CliContext::CliContext(const char* argv0) : argv0_(argv0) {}

CliContext::~CliContext() = default;

void CliContext::AddGlobalOptions(CLI::App& app) {
    app.add_option("--home", home_,
                   "Data root folder (default: $VARDANE_HOME, else beside the "
                   "program when writable, else ~/.local/share/vardane)")
        ->type_name("DIR");
}

CAppContext& CliContext::App() {
    if (!app_) {
        app_ = std::make_unique<CAppContext>(ResolveDataRoot(home_, argv0_));
        RunSettingsStartup(*app_);
    }
    return *app_;
}

int UsageError(const std::string& message) {
    std::cerr << "vardane-cli: " << message << "\nRun with --help for more information.\n";
    return kExitUsage;
}

}  // namespace vardane
