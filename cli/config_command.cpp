#include "cli/config_command.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <vector>

#include "app/command_io.h"
#include "app/main_frame.h"
#include "app/owner_runtime.h"
#include "platform/display_text.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "settings/app_context.h"
#include "settings/registry_paths.h"
#include "settings/setting_ranges.h"
#include "task/display_address.h"

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

bool NamesASecret(std::string_view name) {
    const std::string lower = ToLowerAscii(name);
    for (std::string_view word : {"password", "passwd", "pwd", "secret"}) {
        if (lower.find(word) != std::string::npos) {
            return true;
        }
    }
    return false;
}

}  // namespace

std::string MaskSettingValue(std::string_view keyPath, std::string_view name,
                             std::string_view value) {
    if (value.empty()) {
        return {};
    }
    if (NamesASecret(name)) {
        return std::string(kMaskedSecret);
    }
    // A proxy record's password is the whole text after its seventh comma,
    // or, with fewer commas, after the last one (the parser carries the
    // rest on to the password field).
    if (EqualsNoCase(keyPath, GroupKeyPath("Proxy")) && StartsWithNoCase(name, "Proxy_")) {
        size_t start = 0;
        for (int field = 0; field < 7; ++field) {
            const size_t comma = value.find(',', start);
            if (comma == std::string_view::npos) {
                break;
            }
            start = comma + 1;
        }
        if (start < value.size()) {
            return std::string(value.substr(0, start)) + std::string(kMaskedSecret);
        }
        return std::string(value);
    }
    // Site addresses carry their login, and any other value may hold one.
    return MaskAddressForDisplay(value);
}

std::string FormatAllSettings(Registry& registry, bool showSecrets) {
    std::vector<std::string> lines;
    for (const RootName& r : kRoots) {
        RegistryStore& store = registry.Store(r.root);
        for (const std::string& key : store.AllKeys()) {
            for (const auto& [name, value] : store.Values(key)) {
                const std::string shown = showSecrets ? value : MaskSettingValue(key, name, value);
                lines.push_back(std::string(r.shortName) + "\\" + key + "\\" +
                                (name.empty() ? "@" : name) + "=" +
                                DisplayText(EscapeLineBreaks(shown)));
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

namespace {

// vardane-cli config: shows and changes the settings store of the process
// that owns the data root, so that a value set while another command runs
// is in effect there at once and is not overwritten by its next save.
class ConfigCommand : public TaskCommand {
  public:
    CLI::App* Register(CLI::App& app) override {
        CLI::App* sub = app.add_subcommand(
            "config",
            "Show or change settings: every value, one value (KEY NAME) or set one "
            "(KEY NAME VALUE)");
        sub->add_option("KEY", key_,
                        "Key with its root, e.g. 'HKCU\\SOFTWARE\\Vardane\\Connection'");
        sub->add_option("NAME", name_, "Value name; @ is the key's default value");
        sub->add_option("VALUE", value_, "New text of the value");
        sub->add_flag("--show-secrets", showSecrets_,
                      "Print passwords as stored instead of ******");
        sub->footer(
            "Start-up runs first: missing settings get their defaults.\n"
            "Exit status: 0 done, 1 no such value or a refused value, 2 bad usage.");
        return sub;
    }

    std::optional<int> CheckUsage(CliIo& io) override {
        if (!key_) {
            return std::nullopt;
        }
        if (!ParseKeyName(*key_)) {
            return Usage(io, "KEY must start with HKCU\\ or HKLM\\ and name a key: " + *key_);
        }
        if (!name_) {
            return Usage(io, "config needs a value NAME after KEY");
        }
        return std::nullopt;
    }

    std::optional<int> Run(CliEnv& env) override {
        AppContext& app = env.rt.Context();
        if (!key_) {
            env.io.Out(FormatAllSettings(app.registry, showSecrets_));
            return kStatusOk;
        }
        KeyName key = *ParseKeyName(*key_);
        RegistryStore& store = app.registry.Store(key.root);
        if (value_) {
            if (std::string why = RefusedSettingValue(key.path, *name_, *value_); !why.empty()) {
                env.io.Err("vardane-cli: " + why + "\n");
                return kStatusFailed;
            }
            if (!store.CreateKey(key.path) ||
                !store.SetValue(key.path, ValueName(*name_), *value_)) {
                return Usage(env.io, "cannot write to the key " + *key_);
            }
            env.rt.Frame().SettingsChanged();
            return kStatusOk;
        }
        std::string value;
        if (!store.QueryValue(key.path, ValueName(*name_), value)) {
            return kStatusFailed;
        }
        if (!showSecrets_) {
            value = MaskSettingValue(key.path, *name_, value);
        }
        // One value prints as stored, its line breaks included.
        std::string shown;
        for (size_t start = 0;;) {
            const size_t end = value.find('\n', start);
            shown += DisplayText(std::string_view(value).substr(start, end - start));
            if (end == std::string::npos) {
                break;
            }
            shown += '\n';
            start = end + 1;
        }
        env.io.Out(shown + "\n");
        return kStatusOk;
    }

  private:
    static int Usage(CliIo& io, const std::string& message) {
        io.Err("vardane-cli: " + message + "\nRun with --help for more information.\n");
        return kStatusUsage;
    }

    std::optional<std::string> key_, name_, value_;
    bool showSecrets_ = false;
};

}  // namespace

std::unique_ptr<TaskCommand> MakeConfigCommand() {
    return std::make_unique<ConfigCommand>();
}

}  // namespace vardane
