// The completion alert: a desktop notification over D-Bus
// (org.freedesktop.Notifications) with View and Hide actions, a WAV sound
// and the vibrator of the Linux LED class, each switched by its setting.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

class QSoundEffect;

namespace vardane {
struct AppContext;
}

namespace vardane::gui {

// The command of the notification's View and Hide actions.
inline constexpr const char* kViewAction = "1524";
inline constexpr const char* kHideAction = "1525";
// The Add action of a copied address's offer.
inline constexpr const char* kAddAction = "add";

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
    CompletionAlerter(AppContext& ctx, std::string ledRoot = "/sys/class/leds/");
    ~CompletionAlerter() override;

    // Sound, vibration, notification, as the settings say.
    void Raise(const std::string& localFileName);
    // Removes the notification shown (also at shutdown).
    void RemoveNotification();
    // Ends the vibration early and waits for its threads.
    void Shutdown();
    // A notification offering a new task for a copied address, with an Add
    // action; replaces the previous offer.
    void OfferAddress(const std::string& url);

  Q_SIGNALS:
    // The notification's View action.
    void ViewRequested();
    // The Add action of an offer: its address.
    void AddRequested(const QString& url);

  private Q_SLOTS:
    void OnActionInvoked(uint id, const QString& action);

  private:
    void PlaySound();
    void Vibrate();
    void Notify(const std::string& localFileName);
    // Sends a notification; its id is stored in *id once the service answers.
    void Send(const QString& body, const QStringList& actions, uint replaces, uint* id);

    AppContext& ctx_;
    std::string ledRoot_;
    uint notificationId_ = 0;
    uint offerId_ = 0;
    QString offeredUrl_;
    QSoundEffect* sound_ = nullptr;
    std::vector<std::thread> vibrations_;
};

}  // namespace vardane::gui
