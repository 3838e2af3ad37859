#include "cli/config_command.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <iostream>
#include <vector>

#include "cli/cli_context.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "settings/app_context.h"

namespace vardane {

namespace {

struct RootName {
    RegRoot root;
    const char* shortName;
    const char* longName;
};

constexpr RootName kRoots[] = {
    {RegRoot::LocalMachine, "HKLM", "HKEY_LOCAL_MACHINE"},
    {RegRoot::CurrentUser, "HKCU", "HKEY_CURRENT_USER"},
};

struct KeyName {
    RegRoot root;
    std::string path;
};

// "HKCU\SOFTWARE\Vardane\Connection" -> (HKCU, "SOFTWARE\Vardane\Connection").
std::optional<KeyName> ParseKeyName(std::string_view text) {
    for (const RootName& r : kRoots) {
        for (std::string_view prefix : {r.shortName, r.longName}) {
            if (text.size() > prefix.size() + 1 && StartsWithNoCase(text, prefix) &&
                text[prefix.size()] == '\\') {
                return KeyName{r.root, std::string(text.substr(prefix.size() + 1))};
            }
        }
    }
    return std::nullopt;
}

std::string ValueName(const std::string& name) {
    return name == "@" ? std::string() : name;
}

std::string EscapeLineBreaks(std::string_view text) {
    return ReplaceCopy(ReplaceCopy(text, "\r", "\\r"), "\n", "\\n");
}

}  // namespace

std::string FormatAllSettings(CRegistry& registry) {
    std::vector<std::string> lines;
    for (const RootName& r : kRoots) {
        CRegistryStore& store = registry.Store(r.root);
        for (const std::string& key : store.AllKeys()) {
            for (const auto& [name, value] : store.Values(key)) {
                lines.push_back(std::string(r.shortName) + "\\" + key + "\\" +
                                (name.empty() ? "@" : name) + "=" + EscapeLineBreaks(value));
            }
        }
    }
    std::sort(lines.begin(), lines.end());
    std::string text;
    for (const std::string& line : lines) {
        text += line + "\n";
    }
    return text;
}

CLI::App* ConfigCommand::Register(CLI::App& app) {
    CLI::App* sub =
        app.add_subcommand("config",
                           "Show or change settings: every value, one value (KEY NAME) or set one "
                           "(KEY NAME VALUE)");
    sub->add_option("KEY", key_, "Key with its root, e.g. 'HKCU\\SOFTWARE\\Vardane\\Connection'");
    sub->add_option("NAME", name_, "Value name; @ is the key's default value");
    sub->add_option("VALUE", value_, "New text of the value");
    sub->footer(
        "Start-up runs first: missing settings get their defaults.\n"
        "Exit status: 0 done, 1 no such value, 2 bad usage.");
    return sub;
}

int ConfigCommand::Run(CliContext& context) {
    std::optional<KeyName> key;
    if (key_) {
        key = ParseKeyName(*key_);
        if (!key) {
            return UsageError("KEY must start with HKCU\\ or HKLM\\ and name a key: " + *key_);
        }
        if (!name_) {
            return UsageError("config needs a value NAME after KEY");
        }
    }
    CAppContext& app = context.App();
    if (!key) {
        std::cout << FormatAllSettings(app.registry);
        return kExitOk;
    }
    CRegistryStore& store = app.registry.Store(key->root);
    if (value_) {
        if (!store.CreateKey(key->path) || !store.SetValue(key->path, ValueName(*name_), *value_)) {
            return UsageError("cannot write to the key " + *key_);
        }
        return kExitOk;
    }
    std::string value;
    if (!store.QueryValue(key->path, ValueName(*name_), value)) {
        return kExitNotFound;
    }
    std::cout << value << "\n";
    return kExitOk;
}

}  // namespace vardane
