#include "gui/completion_alert.h"

#include <dirent.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QUrl>
#include <chrono>
#include <fstream>

#include "settings/app_context.h"
#include "task/url.h"

#ifdef VARDANE_HAVE_QT_MULTIMEDIA
#include <QSoundEffect>
#endif

namespace vardane::gui {
namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");

bool FileExists(const std::string& path) {
    return std::ifstream(path).good();
}

void SetBrightness(const std::string& led, int value) {
    std::ofstream(led + "/brightness") << value << '\n';
}

}  // namespace

std::string SoundFileToPlay(const std::string& soundPath, const std::string& exeDir) {
    if (!soundPath.empty() && soundPath.find('\\') == std::string::npos) {
        return soundPath;
    }
    for (const char* relative : {"sounds/complete.wav", "../share/vardane/sounds/complete.wav"}) {
        if (FileExists(exeDir + relative)) {
            return exeDir + relative;
        }
    }
    return {};
}

std::string FindVibratorLed(const std::string& ledRoot) {
    DIR* dir = opendir(ledRoot.c_str());
    if (dir == nullptr) {
        return {};
    }
    std::string found;
    while (dirent* entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name.find("vib") != std::string::npos) {
            found = ledRoot + name;
            break;
        }
    }
    closedir(dir);
    return found;
}

CompletionAlerter::CompletionAlerter(AppContext& ctx, std::string ledRoot)
    : ctx_(ctx), ledRoot_(std::move(ledRoot)) {
    QDBusConnection::sessionBus().connect(kService, kPath, kService,
                                          QStringLiteral("ActionInvoked"), this,
                                          SLOT(OnActionInvoked(uint, QString)));
}

CompletionAlerter::~CompletionAlerter() {
    Shutdown();
}

void CompletionAlerter::Raise(const std::string& localFileName) {
    if (ctx_.settings.PlaySound) {
        PlaySound();
    }
    if (ctx_.settings.Vibrative) {
        Vibrate();
    }
    if (ctx_.settings.ScreenNotify) {
        Notify(localFileName);
    }
}

void CompletionAlerter::PlaySound() {
#ifdef VARDANE_HAVE_QT_MULTIMEDIA
    const std::string exe = ctx_.root.AppPath;
    const std::string file =
        SoundFileToPlay(ctx_.settings.SoundPath, exe.substr(0, exe.rfind('/') + 1));
    if (file.empty()) {
        return;  // nothing to play, and nothing to report
    }
    if (sound_ == nullptr) {
        sound_ = new QSoundEffect(this);
    }
    // Plays in the background; a file it cannot read plays nothing.
    sound_->setSource(QUrl::fromLocalFile(QString::fromStdString(file)));
    sound_->setVolume(1.0f);
    sound_->play();
#endif
}

void CompletionAlerter::Vibrate() {
    const std::string led = FindVibratorLed(ledRoot_);
    if (led.empty()) {
        return;
    }
    const int seconds = ctx_.settings.AlarmSec;
    std::atomic<bool>& closing = ctx_.Closing;
    vibrations_.emplace_back([led, seconds, &closing] {
        SetBrightness(led, 1);
        for (int waited = 0; waited < seconds * 1000 && !closing; waited += 100) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        SetBrightness(led, 0);
    });
}

// Every call is asynchronous: a notification service that is slow or hung
// must never stop the window thread.
void CompletionAlerter::Notify(const std::string& localFileName) {
    RemoveNotification();
    const LangTable& lang = ctx_.lang;
    const QString body =
        QString::fromStdString(localFileName + " " + lang.GetLangText("Notify_FileCompleted"));
    const QStringList actions = {
        QString::fromLatin1(kViewAction), QString::fromStdString(lang.GetLangText("Notify_View")),
        QString::fromLatin1(kHideAction), QString::fromStdString(lang.GetLangText("Notify_Hide"))};
    Send(body, actions, 0, &notificationId_);
}

void CompletionAlerter::Send(const QString& body, const QStringList& actions, uint replaces,
                             uint* id) {
    const QString title = QString::fromStdString(ctx_.lang.GetAppTitle());
    QDBusMessage message =
        QDBusMessage::createMethodCall(kService, kPath, kService, QStringLiteral("Notify"));
    message << title << replaces << QStringLiteral("vardane") << title << body << actions
            << QVariantMap{{QStringLiteral("urgency"), QVariant::fromValue<uchar>(1)}} << 5000;
    QDBusPendingCall call = QDBusConnection::sessionBus().asyncCall(message, 5000);
    auto* watcher = new QDBusPendingCallWatcher(call, this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [id](QDBusPendingCallWatcher* w) {
        QDBusPendingReply<uint> reply = *w;
        if (reply.isValid()) {
            *id = reply.value();
        }
        w->deleteLater();
    });
}

// The address is shown without its password, and as plain text: a
// notification service may read the body as markup.
void CompletionAlerter::OfferAddress(const std::string& url) {
    offeredUrl_ = QString::fromStdString(url);
    const QString body = QString::fromStdString(ctx_.lang.GetLangText("Notify_LinkCopied") + " ") +
                         QString::fromStdString(MaskUrlPassword(url)).toHtmlEscaped();
    const QStringList actions = {QString::fromLatin1(kAddAction),
                                 QString::fromStdString(ctx_.lang.GetLangText("Notify_Add"))};
    Send(body, actions, offerId_, &offerId_);
}

void CompletionAlerter::RemoveNotification() {
    if (notificationId_ == 0) {
        return;
    }
    QDBusMessage message = QDBusMessage::createMethodCall(kService, kPath, kService,
                                                          QStringLiteral("CloseNotification"));
    message << notificationId_;
    QDBusConnection::sessionBus().asyncCall(message, 5000);
    notificationId_ = 0;
}

void CompletionAlerter::Shutdown() {
    for (std::thread& t : vibrations_) {
        t.join();
    }
    vibrations_.clear();
}

void CompletionAlerter::OnActionInvoked(uint id, const QString& action) {
    if (id != 0 && id == offerId_) {
        offerId_ = 0;
        if (action == QLatin1String(kAddAction)) {
            Q_EMIT AddRequested(offeredUrl_);
        }
        return;
    }
    if (id != notificationId_ || id == 0) {
        return;
    }
    if (action == QLatin1String(kViewAction)) {
        Q_EMIT ViewRequested();
    }
    RemoveNotification();
}

}  // namespace vardane::gui
