// The completion alert: a desktop notification over D-Bus
// (org.freedesktop.Notifications) with View and Hide actions, a WAV sound
// and the vibrator of the Linux LED class, each switched by its setting.
#pragma once

#include <QObject>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

class QSoundEffect;

namespace vardane {
struct CAppContext;
}

namespace vardane::gui {

// The command of the notification's View and Hide actions.
inline constexpr const char* kViewAction = "1524";
inline constexpr const char* kHideAction = "1525";

// The WAV to play for SoundPath: the designed default names a Windows file
// that cannot exist here, so it (and an empty value) means the sound shipped
// beside the program, found from the executable's folder.
std::string SoundFileToPlay(const std::string& soundPath, const std::string& exeDir);

// The vibrator: the first LED under ledRoot whose name contains "vib";
// "" when there is none.
std::string FindVibratorLed(const std::string& ledRoot);

class CompletionAlerter : public QObject {
    Q_OBJECT
  public:
    // ledRoot: where LED class devices live (/sys/class/leds/ on a device).
    CompletionAlerter(CAppContext& ctx, std::string ledRoot = "/sys/class/leds/");
    ~CompletionAlerter() override;

    // Sound, vibration, notification, as the settings say.
    void Raise(const std::string& localFileName);
    // Removes the notification shown (also at shutdown).
    void RemoveNotification();
    // Ends the vibration early and waits for its threads.
    void Shutdown();

  Q_SIGNALS:
    // The notification's View action.
    void ViewRequested();

  private Q_SLOTS:
    void OnActionInvoked(uint id, const QString& action);

  private:
    void PlaySound();
    void Vibrate();
    void Notify(const std::string& localFileName);

    CAppContext& ctx_;
    std::string ledRoot_;
    uint notificationId_ = 0;
    QSoundEffect* sound_ = nullptr;
    std::vector<std::thread> vibrations_;
};

}  // namespace vardane::gui
