#include "gui/gui_runtime.h"

#include <QApplication>
#include <QFileDialog>
#include <QSocketNotifier>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTimer>
#include <cstdio>

#include <sys/signalfd.h>
#include <unistd.h>

#include "dialogs/edit_category_dialog.h"
#include "dialogs/edit_task_dialog.h"
#include "gui/completion_alert.h"
#include "gui/dialogs/gui_dialogs.h"
#include "gui/explorer_window.h"
#include "gui/icons.h"
#include "gui/keep_awake.h"
#include "gui/main_window.h"
#include "settings/app_context.h"

namespace vardane::gui {

GuiRuntime::GuiRuntime(CAppContext& ctx, std::unique_ptr<CInstanceLock> lock)
    : CliRuntime(ctx, std::move(lock)),
      routed_(Questions(), qtQuestions_),
      alert_(std::make_unique<CompletionAlerter>(ctx)) {}

GuiRuntime::~GuiRuntime() {
    ShutDown();
    delete window_;
}

MainWindow* GuiRuntime::Window() {
    return window_;
}

void GuiRuntime::StartWindow(const std::string& commandLineUrl) {
    Start(true, &routed_);
    window_ = new MainWindow(Frame(), [this] { ShutDown(); });
    qtQuestions_.SetParent(window_);
    connect(alert_.get(), &CompletionAlerter::ViewRequested, this, [this] {
        if (window_) {
            window_->showMaximized();
            window_->raise();
            Frame().SelectView(TaskView::Completed);
        }
    });

    wakeNotifier_ = new QSocketNotifier(Loop().WakeFd(), QSocketNotifier::Read, this);
    connect(wakeNotifier_, &QSocketNotifier::activated, this, [this] {
        if (Loop().Pump() > 0) {
            Q_EMIT LoopRan();
        }
    });
    if (ListenFd() >= 0) {
        listenNotifier_ = new QSocketNotifier(ListenFd(), QSocketNotifier::Read, this);
        connect(listenNotifier_, &QSocketNotifier::activated, this, [this] { ServeRequests(); });
    }
    // A signal closes the window also while a dialog holds back requests.
    if (SignalFd() >= 0) {
        auto* signals = new QSocketNotifier(SignalFd(), QSocketNotifier::Read, this);
        connect(signals, &QSocketNotifier::activated, this, [this] {
            signalfd_siginfo info;
            while (read(SignalFd(), &info, sizeof(info)) > 0) {
            }
            OnTerminationSignal();
        });
    }
    // The ticks of the jobs, and requests held back while a dialog was open.
    serveTimer_ = new QTimer(this);
    connect(serveTimer_, &QTimer::timeout, this, [this] {
        ServeRequests();
        UpdateKeepAwake();
    });
    inhibitor_ = std::make_unique<IdleInhibitor>();
    serveTimer_->start(200);

    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        tray_ = new QSystemTrayIcon(ProgramIcon(), this);
        tray_->setToolTip(QString::fromStdString(Frame().Title()));
        connect(tray_, &QSystemTrayIcon::activated, this, [this] {
            if (window_) {
                window_->showNormal();
                window_->raise();
                window_->activateWindow();
            }
        });
        tray_->show();
    }

    if (Context().settings.MinAtStart) {
        window_->showMinimized();
    } else {
        window_->show();
    }
    if (!commandLineUrl.empty()) {
        // After the window is up, as a handed-over address would be.
        QTimer::singleShot(0, this, [this, commandLineUrl] {
            if (!shutDown_) {
                Frame().OnAddressHandedOver(commandLineUrl);
            }
        });
    }
}

// Another process's request runs only while no dialog of this one is open:
// a command must not change the lists under a dialog that reads them.
void GuiRuntime::ServeRequests() {
    if (shutDown_) {
        return;
    }
    if (QApplication::activeModalWidget() != nullptr) {
        // The clients' sockets stay readable until served: watching them
        // now would spin; the timer comes back once the dialog is closed.
        WatchClients(false);
        if (Loop().Pump() > 0) {
            Q_EMIT LoopRan();
        }
        return;
    }
    if (ServeOnce()) {
        // A job (an import) has more to do: go on once other events ran.
        ServeSoon();
    }
    WatchClients(true);
}

// The desktop stays awake while downloads run or wait, and may sleep again
// once they are over.
void GuiRuntime::UpdateKeepAwake() {
    if (inhibitor_ == nullptr) {
        return;
    }
    const bool active = !shutDown_ && Frame().HasActiveTasks();
    inhibitor_->SetActive(
        active, QString::fromStdString(Frame().Title()),
        QString::fromStdString(Context().lang.GetLangText("MainDlg_Folder_Downloading")));
}

void GuiRuntime::ServeSoon() {
    if (servePending_) {
        return;
    }
    servePending_ = true;
    QTimer::singleShot(0, this, [this] {
        servePending_ = false;
        ServeRequests();
    });
}

// A connected client's command and answers are read as soon as they arrive,
// not at the timer's next tick: a forwarded command waits for nothing.
void GuiRuntime::WatchClients(bool enabled) {
    std::map<int, QSocketNotifier*> watched;
    for (int fd : ClientFds()) {
        auto it = clientNotifiers_.find(fd);
        QSocketNotifier* notifier = nullptr;
        if (it != clientNotifiers_.end()) {
            notifier = it->second;
            clientNotifiers_.erase(it);
        } else {
            notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
            connect(notifier, &QSocketNotifier::activated, this, [this] { ServeRequests(); });
        }
        notifier->setEnabled(enabled);
        watched.emplace(fd, notifier);
    }
    // Those left belong to clients already served and closed.
    for (auto& [fd, notifier] : clientNotifiers_) {
        notifier->setEnabled(false);
        notifier->deleteLater();
    }
    clientNotifiers_ = std::move(watched);
}

void GuiRuntime::ShutDown() {
    if (shutDown_) {
        return;
    }
    shutDown_ = true;
    if (serveTimer_ != nullptr) {
        serveTimer_->stop();
    }
    WatchClients(false);
    UpdateKeepAwake();
    alert_->RemoveNotification();
    Close();
    alert_->Shutdown();
    if (tray_ != nullptr) {
        tray_->hide();
    }
}

void GuiRuntime::OnTerminationSignal() {
    if (window_) {
        window_->close();
    } else {
        ShutDown();
    }
    QApplication::quit();
}

void GuiRuntime::OnModelChanged(unsigned parts) {
    if (window_) {
        window_->Render(parts);
    }
}

// A job waiting for this task (a forwarded get) answers its client now.
void GuiRuntime::OnTaskEnded(const std::string& id, int state) {
    CliRuntime::OnTaskEnded(id, state);
    ServeSoon();
}

void GuiRuntime::SetWaitCursor(bool wait) {
    if (wait) {
        ++waitCursors_;
        QApplication::setOverrideCursor(Qt::WaitCursor);
    } else if (waitCursors_ > 0) {
        --waitCursors_;
        QApplication::restoreOverrideCursor();
    }
}

void GuiRuntime::OpenNewTaskDialog(const std::string& url) {
    // Opened from the event loop: a second start that handed the address
    // over gets its answer now, not when the dialog closes.
    QTimer::singleShot(0, this, [this, url] {
        if (shutDown_) {
            return;
        }
        CEdtTaskDlg dialog(Context(), routed_);
        InitNewTask(dialog, url);
        if (ExecTaskDialog(window_, dialog)) {
            Frame().OnNewTaskAdded(dialog.TaskId(), dialog.StartImmediately());
        }
    });
}

void GuiRuntime::OpenTaskProperties(const std::string& id) {
    CEdtTaskDlg dialog(Context(), routed_);
    dialog.InitEdit(id);
    if (ExecTaskDialog(window_, dialog)) {
        Frame().OnTaskEdited(id, dialog.StartImmediately());
    }
}

void GuiRuntime::OpenSettings() {
    if (ExecSettingsSheet(window_, Context(), routed_)) {
        Frame().SettingsChanged();
    }
}

void GuiRuntime::OpenSiteExplorer() {
    CQtQuestions questions;
    ExplorerWindow explorer(window_, Frame(), questions);
    questions.SetParent(&explorer);
    connect(this, &GuiRuntime::LoopRan, &explorer, &ExplorerWindow::Render);
    explorer.exec();
}

void GuiRuntime::CloseRequested() {
    if (window_) {
        window_->close();
    }
}

std::optional<std::string> GuiRuntime::ChooseImportFile(const std::string& filter) {
    if (pendingImportFile) {
        return CliRuntime::ChooseImportFile(filter);
    }
    QString file = QFileDialog::getOpenFileName(window_, QString::fromStdString(Frame().Title()),
                                                QString(), QStringLiteral("*.txt"));
    if (file.isEmpty()) {
        return std::nullopt;
    }
    return file.toStdString();
}

void GuiRuntime::RunCategoryNameDialog(CEdtCatDlg& dialog) {
    if (pendingCategoryName) {
        CliRuntime::RunCategoryNameDialog(dialog);
        return;
    }
    ExecCategoryNameDialog(window_, dialog, routed_);
}

void GuiRuntime::ReportError(const std::string& text) {
    std::fprintf(stderr, "vardane: %s\n", text.c_str());
    if (window_) {
        window_->statusBar()->showMessage(QString::fromStdString(text), 15000);
    }
}

void GuiRuntime::CompletionAlert(const std::string& localFileName) {
    alert_->Raise(localFileName);
}

}  // namespace vardane::gui
