#include "gui/tray.h"

#include <QMenu>
#include <QSystemTrayIcon>
#include <QWidget>

#include "app/main_frame.h"
#include "gui/access_keys.h"
#include "gui/icons.h"
#include "settings/app_context.h"

namespace vardane::gui {

void PresentWindow(QWidget* window) {
    if (window == nullptr) {
        return;
    }
    window->setWindowState((window->windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    window->show();
    window->raise();
    window->activateWindow();
}

bool HidesOnClose(bool closeToTray, bool trayAvailable, bool tasksActive) {
    return closeToTray && trayAvailable && tasksActive;
}

Tray::Tray(MainFrame& frame, std::function<QWidget*()> window, std::function<void()> quit,
           QObject* parent)
    : QObject(parent), frame_(frame), window_(std::move(window)) {
    menu_ = new QMenu();
    show_ = menu_->addAction(QString());
    connect(show_, &QAction::triggered, this, [this] { PresentWindow(window_()); });
    menu_->addSeparator();
    startAll_ = menu_->addAction(QString());
    connect(startAll_, &QAction::triggered, this, [this] { frame_.Operations().StartAll(); });
    stopAll_ = menu_->addAction(QString());
    connect(stopAll_, &QAction::triggered, this, [this] { frame_.Operations().StopAll(); });
    limit_ = menu_->addAction(QString());
    limit_->setCheckable(true);
    connect(limit_, &QAction::triggered, this,
            [this](bool on) { frame_.Speed().SetSpeedLimitChecked(on); });
    menu_->addSeparator();
    quit_ = menu_->addAction(QString());
    connect(quit_, &QAction::triggered, this, [quit = std::move(quit)] { quit(); });
    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        icon_ = new QSystemTrayIcon(ProgramIcon(), this);
        icon_->setContextMenu(menu_);
        connect(
            icon_, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick) {
                    PresentWindow(window_());
                }
            });
        icon_->show();
    }
    Refresh();
}

Tray::~Tray() {
    if (icon_ != nullptr) {
        icon_->hide();
    }
    delete menu_;
}

void Tray::Refresh() {
    const LangTable& lang = frame_.Context().lang;
    show_->setText(QString::fromStdString(lang.GetLangText("Tray_Show")));
    startAll_->setText(AccessText(lang, "Menu_Main_StartAll"));
    stopAll_->setText(AccessText(lang, "Menu_Main_StopAll"));
    limit_->setText(QString::fromStdString(lang.GetLangText("Tray_SpeedLimit") + " " +
                                           frame_.Speed().SpeedLimitCaption()));
    limit_->setChecked(frame_.Speed().SpeedLimitChecked());
    quit_->setText(AccessText(lang, "Menu_Main_Exit"));
    if (icon_ != nullptr) {
        icon_->setToolTip(
            QString::fromStdString(frame_.Pane().Title() + "\n" + frame_.Speed().TotalSpeedText()));
    }
}

}  // namespace vardane::gui
