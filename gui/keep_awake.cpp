#include "gui/keep_awake.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

namespace vardane::gui {

namespace {

const QString kService = QStringLiteral("org.freedesktop.ScreenSaver");
const QString kPath = QStringLiteral("/org/freedesktop/ScreenSaver");

QDBusMessage Call(const QString& method) {
    return QDBusMessage::createMethodCall(kService, kPath, kService, method);
}

}  // namespace

IdleInhibitor::IdleInhibitor(QDBusConnection bus) : bus_(std::move(bus)) {}

IdleInhibitor::~IdleInhibitor() {
    Release();
}

void IdleInhibitor::SetActive(bool active, const QString& application, const QString& reason) {
    wanted_ = active;
    if (!active) {
        Release();
        return;
    }
    if (cookie_ != 0 || asking_ || !bus_.isConnected()) {
        return;
    }
    QDBusMessage message = Call(QStringLiteral("Inhibit"));
    message << application << reason;
    asking_ = true;
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(message, 5000), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
        QDBusPendingReply<uint> reply = *w;
        w->deleteLater();
        asking_ = false;
        if (reply.isError()) {
            return;  // no screen-saver service: nothing to hold
        }
        cookie_ = reply.value();
        if (!wanted_) {
            Release();  // the downloads ended while the call was on its way
        }
    });
}

void IdleInhibitor::Release() {
    if (cookie_ == 0) {
        return;
    }
    QDBusMessage message = Call(QStringLiteral("UnInhibit"));
    message << cookie_;
    cookie_ = 0;
    bus_.send(message);
}

}  // namespace vardane::gui
