// The application context: settings store, settings record, language and the
// process-wide runtime state, handed down to everything that needs them. No
// globals, so a test can run two programs side by side in one process.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "lang/lang_table.h"
#include "platform/data_root.h"
#include "platform/registry.h"
#include "settings/app_settings.h"
#include "settings/local_targets.h"

namespace vardane {

struct AppContext {
    // Opens the settings store of root; writes nothing. The start-up pass
    // (WriteDefaultSettings, LoadSettings) fills settings.
    explicit AppContext(DataRoot root);
    AppContext(const AppContext&) = delete;
    AppContext& operator=(const AppContext&) = delete;

    const std::string& AppDir() const { return root.AppDir; }

    DataRoot root;
    Registry registry;
    LangTable lang;
    AppSettings settings;

    // Runtime state beside the settings.
    std::atomic<bool> Closing{false};

    // Guards settings.SpeedLimit, SpeedLimitKB, SpeedBudget, the speed
    // samples, AvgSpeedKB and RunningThreads; also held by LoadSettings.
    std::mutex SpeedLock;
    int RunningThreads = 0;
    int64_t SpeedLimitKB = 1024;
    int64_t SpeedBudget = 0;
    double AvgSpeedKB = 0;

    // Guards the list files and the task list view.
    std::mutex ListLock;
    // Guards the choice of local file names.
    std::mutex CreateFileLock;
    // The names the Downloading tasks aim at, for that choice.
    LocalTargets targets;

    // How https connections of one task check the server when a command
    // line said so (--ca-file, --insecure). A choice belongs to the command
    // that made it and holds for that command's run of the task only: the
    // task's next start takes it (ClaimTlsChoice), the end of that run drops
    // it (EndTlsRun), and so does the end of the command (DropTlsChoice).
    // Any other run checks certificates as the settings say. Held for this
    // process only: an opt-out of the certificate check is never stored.
    struct TlsChoice {
        bool insecure = false;
        std::string caFile;  // "" the CAFile setting
    };
    // Returns the ticket DropTlsChoice takes; 0 when a run of the task
    // already holds another command's choice (it is left as it is).
    uint64_t ChooseTls(const std::string& id, const TlsChoice& choice);
    void DropTlsChoice(const std::string& id, uint64_t ticket);
    // run: what identifies the run (its task slot).
    void ClaimTlsChoice(const std::string& id, const void* run);
    void EndTlsRun(const std::string& id, const void* run);
    // The choice the run holds, if any.
    std::optional<TlsChoice> TlsChoiceOf(const std::string& id, const void* run);

  private:
    struct HeldTlsChoice {
        TlsChoice choice;
        uint64_t ticket = 0;
        const void* run = nullptr;  // nullptr until a start takes it
    };
    std::mutex tlsChoiceLock_;
    std::map<std::string, HeldTlsChoice> tlsChoices_;  // by task id
    uint64_t nextTlsTicket_ = 1;
};

}  // namespace vardane
