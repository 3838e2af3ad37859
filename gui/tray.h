// The tray icon: a menu to show the window, start or stop every task, switch
// the speed limit and quit; closing the window while tasks run or wait
// leaves the program here (CloseToTray, where the desktop has a tray).
#pragma once

#include <QObject>
#include <functional>

class QAction;
class QMenu;
class QSystemTrayIcon;
class QWidget;

namespace vardane {
class MainFrame;
}

namespace vardane::gui {

// Brings a window back from the tray, from minimized or from behind others.
void PresentWindow(QWidget* window);

// Whether a close of the window hides it instead of quitting.
bool HidesOnClose(bool closeToTray, bool trayAvailable, bool tasksActive);

class Tray : public QObject {
    Q_OBJECT
  public:
    // window: what Show presents; quit: the explicit quit.
    Tray(MainFrame& frame, std::function<QWidget*()> window, std::function<void()> quit,
         QObject* parent = nullptr);
    ~Tray() override;

    // A tray exists on this desktop and the icon is shown.
    bool Available() const { return icon_ != nullptr; }
    // Texts, the limit's state and the tooltip, from the frame.
    void Refresh();
    QMenu* Menu() { return menu_; }

  private:
    MainFrame& frame_;
    std::function<QWidget*()> window_;
    QSystemTrayIcon* icon_ = nullptr;
    QMenu* menu_ = nullptr;
    QAction* show_ = nullptr;
    QAction* startAll_ = nullptr;
    QAction* stopAll_ = nullptr;
    QAction* limit_ = nullptr;
    QAction* quit_ = nullptr;
};

}  // namespace vardane::gui
