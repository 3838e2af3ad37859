// The application context: settings store, settings record, language and the
// process-wide runtime state, handed down to everything that needs them. No
// globals, so a test can run two programs side by side in one process.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

#include "lang/lang_table.h"
#include "platform/data_root.h"
#include "platform/registry.h"
#include "settings/app_settings.h"

namespace vardane {

struct CAppContext {
    // Opens the settings store of root; writes nothing. The start-up pass
    // (WriteDefaultSettings, LoadSettings) fills settings.
    explicit CAppContext(DataRoot root);
    CAppContext(const CAppContext&) = delete;
    CAppContext& operator=(const CAppContext&) = delete;

    const std::string& AppDir() const { return root.AppDir; }

    DataRoot root;
    CRegistry registry;
    CLangTable lang;
    CAppSettings settings;

    // Runtime state beside the settings.
    std::atomic<bool> bClosing{false};

    // Guards settings.SpeedLimit, iSpeedLimitKB, iSpeedBudget, the speed
    // samples, fAvgSpeedKB and iRunningThreads; also held by LoadSettings.
    std::mutex SpeedLock;
    int iRunningThreads = 0;
    int64_t iSpeedLimitKB = 1024;
    int64_t iSpeedBudget = 0;
    double fAvgSpeedKB = 0;

    // Guards the list files and the task list view.
    std::mutex ListLock;
    // Guards the choice of local file names.
    std::mutex CreateFileLock;

    // How https connections of one task check the server when the command
    // line said so for that task (--ca-file, --insecure). Held for this
    // process only: an opt-out of the certificate check is never stored.
    struct TlsChoice {
        bool insecure = false;
        std::string caFile;  // "" the CAFile setting
    };
    std::mutex TlsChoiceLock;
    std::map<std::string, TlsChoice> TlsChoices;  // by task id
};

}  // namespace vardane
