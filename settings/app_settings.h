// The settings record: one instance per program, inside AppContext. Fields
// are named after the registry values they come from.
#pragma once

#include <cstdint>
#include <string>

namespace vardane {

struct AppSettings {
    // Data root with its trailing '/', and the full path of the executable.
    std::string AppDir;
    std::string AppPath;
    // Code of the current language file (HKLM SOFTWARE\Vardane).
    std::string CurrentLang;

    // General
    bool MinAtStart = false;
    bool DownloadAtStart = false;
    bool MonitorIE = false;
    bool LinkToClipBoard = false;
    // Closing the window hides it to the tray while tasks run or wait
    // (where the desktop has a tray).
    bool CloseToTray = true;
    // Minimum block size in bytes (the stored value is in KB).
    int64_t MinBlock = 0;

    // Connection
    int MaxTasks = 0;
    bool RetryLimit = false;
    int RetryCounts = 0;
    int ConnectionTimeOut = 0;  // seconds
    int RetryWaitSec = 0;       // seconds
    // Read and written under AppContext::SpeedLock; the limit itself is
    // AppContext::SpeedLimitKB.
    bool SpeedLimit = true;

    // Alarm
    bool Vibrative = false;
    bool PlaySound = false;
    std::string SoundPath;
    bool ScreenNotify = false;
    int AlarmSec = 0;

    // Protocol
    bool HTTPSendReferer = false;
    bool HTTPEnableCookies = false;
    // User-Agent text of the selected entry; "" sends no User-Agent header.
    std::string UserAgent;
    // Netscape cookies.txt file the HTTP requests take their cookies from.
    std::string CookieFile;
    // PEM file of the CAs an https server's certificate may chain to; ""
    // trusts the system's store.
    std::string CAFile;
    // A redirect from https to an unencrypted address fails the task instead
    // of being followed.
    bool RefuseHttpsDowngrade = false;

    // Localized label of the speed limit control.
    std::string SpeedLimitText;

    // Default (defaults of a new task)
    std::string DownloadFolder;
    bool DownloadImmediately = false;
    int ThreadCnt = 0;
    int ProxyHTTP = 0;
    int ProxyFTP = 0;
};

}  // namespace vardane
