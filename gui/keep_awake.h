// While downloads run, the desktop must not go idle and suspend the machine
// under them: an inhibition through the freedesktop screen-saver service on
// the session bus, released when the last download has ended. Best effort:
// without the service nothing happens and nothing is reported.
#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>

namespace vardane::gui {

class IdleInhibitor : public QObject {
    Q_OBJECT
  public:
    explicit IdleInhibitor(QDBusConnection bus = QDBusConnection::sessionBus());
    ~IdleInhibitor() override;
    IdleInhibitor(const IdleInhibitor&) = delete;
    IdleInhibitor& operator=(const IdleInhibitor&) = delete;

    // application, reason: what a desktop may show about the inhibition.
    void SetActive(bool active, const QString& application, const QString& reason);
    // An inhibition is held (its cookie came back and was not released).
    bool Holding() const { return cookie_ != 0; }

  private:
    void Release();

    QDBusConnection bus_;
    bool wanted_ = false;
    bool asking_ = false;  // an Inhibit call has not answered yet
    uint cookie_ = 0;
};

}  // namespace vardane::gui
