#include "gui/gui_runtime.h"

#include <QApplication>
#include <QFileDialog>
#include <QSocketNotifier>
#include <QStatusBar>
#include <QTimer>
#include <cstdio>

#include <sys/signalfd.h>
#include <unistd.h>

#include "dialogs/edit_category_dialog.h"
#include "dialogs/edit_task_dialog.h"
#include "gui/access_keys.h"
#include "gui/clipboard_watch.h"
#include "gui/completion_alert.h"
#include "gui/dialogs/gui_dialogs.h"
#include "gui/explorer_window.h"
#include "gui/keep_awake.h"
#include "gui/link_drop.h"
#include "gui/main_window.h"
#include "gui/tray.h"
#include "platform/display_text.h"
#include "platform/text.h"
#include "settings/app_context.h"
#include "task/display_address.h"

namespace vardane::gui {

namespace {

// Output of a flow nobody waits for.
class NullIo : public CliIo {
  public:
    void Out(std::string_view /*text*/) override {}
    void Err(std::string_view /*text*/) override {}
    bool InputIsTerminal() const override { return false; }
    bool OutputIsTerminal() const override { return false; }
    std::optional<bool> AskYesNo(const std::string& /*text*/) override { return std::nullopt; }
    std::string WorkingDirectory() const override { return "/"; }
};

}  // namespace

GuiRuntime::GuiRuntime(AppContext& ctx, std::unique_ptr<InstanceLock> lock)
    : OwnerRuntime(ctx, std::move(lock)),
      routed_(Questions(), qtQuestions_),
      alert_(std::make_unique<CompletionAlerter>(ctx)) {}

GuiRuntime::~GuiRuntime() {
    ShutDown();
    delete window_;
    if (accessKeys_ != nullptr) {
        qApp->removeEventFilter(accessKeys_);
    }
}

MainWindow* GuiRuntime::Window() {
    return window_;
}

void GuiRuntime::StartWindow(const std::string& commandLineUrl) {
    Start(true, &routed_);
    window_ = new MainWindow(Frame(), [this] {
        // Hidden in the tray, the window is no last window whose close
        // ends the program: the quit is explicit.
        const bool explicitQuit = tray_ != nullptr && tray_->Available();
        ShutDown();
        if (explicitQuit) {
            QCoreApplication::exit(0);
        }
    });
    qtQuestions_.SetParent(window_);
    accessKeys_ = new DialogAccessKeys(this);
    qApp->installEventFilter(accessKeys_);
    connect(alert_.get(), &CompletionAlerter::ViewRequested, this, [this] {
        if (window_) {
            window_->showMaximized();
            window_->raise();
            Frame().View().SelectView(TaskView::Completed);
        }
    });
    // A copied address's offer, taken: the New task dialog with it.
    connect(alert_.get(), &CompletionAlerter::AddRequested, this, [this](const QString& url) {
        if (window_ && !shutDown_) {
            PresentWindow(window_);
            Frame().OnAddressHandedOver(url.toStdString());
        }
    });
    clipboardWatch_ = new ClipboardWatch(Context(), *alert_, this);
    window_->SetLinkHandler([this](const DroppedLinks& links) {
        if (!shutDown_) {
            TakeLinks(links, Context(), Frame(), routed_,
                      [this](const std::string& url) { Frame().OnAddressHandedOver(url); });
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
    // A signal closes the window also while a dialog is open.
    if (SignalFd() >= 0) {
        auto* signals = new QSocketNotifier(SignalFd(), QSocketNotifier::Read, this);
        connect(signals, &QSocketNotifier::activated, this, [this] {
            signalfd_siginfo info;
            while (read(SignalFd(), &info, sizeof(info)) > 0) {
            }
            OnTerminationSignal();
        });
    }
    // The ticks of the jobs and the clients' deadlines.
    serveTimer_ = new QTimer(this);
    connect(serveTimer_, &QTimer::timeout, this, [this] {
        ServeRequests();
        UpdateKeepAwake();
    });
    inhibitor_ = std::make_unique<IdleInhibitor>();
    serveTimer_->start(200);

    tray_ = new Tray(
        Frame(), [this]() -> QWidget* { return window_; },
        [this] {
            if (window_) {
                window_->Quit();
            }
        },
        this);
    if (tray_->Available()) {
        QApplication::setQuitOnLastWindowClosed(false);
    }
    window_->SetHideOnClose([this] {
        return tray_ != nullptr && HidesOnClose(Context().settings.CloseToTray, tray_->Available(),
                                                Frame().Scheduler().HasActiveTasks());
    });

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

// Other processes are served also while a dialog of this one is open: the
// dialog's own event loop runs the notifiers and the timer, and no request
// waits for a person (a forwarded question goes back to its client).
void GuiRuntime::ServeRequests() {
    if (shutDown_) {
        return;
    }
    if (ServeOnce()) {
        // A job (an import) has more to do: go on once other events ran.
        ServeSoon();
    }
    WatchClients();
}

// The desktop stays awake while downloads run or wait, and may sleep again
// once they are over.
void GuiRuntime::UpdateKeepAwake() {
    if (inhibitor_ == nullptr) {
        return;
    }
    const bool active = !shutDown_ && Frame().Scheduler().HasActiveTasks();
    inhibitor_->SetActive(
        active, QString::fromStdString(Frame().Pane().Title()),
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

// A connected client's request is read as soon as it arrives, and its
// output written as soon as its socket takes it, not at the timer's next
// tick. A write notifier is on only while output waits: a socket that can
// take more would otherwise wake the loop without end.
void GuiRuntime::WatchClients() {
    std::map<int, Notifiers> watched;
    for (const ClientWatch& watch : shutDown_ ? std::vector<ClientWatch>{} : ClientWatches()) {
        Notifiers notifiers{};
        auto it = clientNotifiers_.find(watch.fd);
        if (it != clientNotifiers_.end()) {
            notifiers = it->second;
            clientNotifiers_.erase(it);
        } else {
            notifiers.read = new QSocketNotifier(watch.fd, QSocketNotifier::Read, this);
            notifiers.write = new QSocketNotifier(watch.fd, QSocketNotifier::Write, this);
            for (QSocketNotifier* notifier : {notifiers.read, notifiers.write}) {
                connect(notifier, &QSocketNotifier::activated, this, [this] { ServeRequests(); });
            }
        }
        notifiers.read->setEnabled(watch.read);
        notifiers.write->setEnabled(watch.write);
        watched.emplace(watch.fd, notifiers);
    }
    // Those left belong to clients already served and closed.
    for (auto& [fd, notifiers] : clientNotifiers_) {
        for (QSocketNotifier* notifier : {notifiers.read, notifiers.write}) {
            notifier->setEnabled(false);
            notifier->deleteLater();
        }
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
    WatchClients();
    UpdateKeepAwake();
    alert_->RemoveNotification();
    Close();
    alert_->Shutdown();
    if (tray_ != nullptr) {
        // Its menu may be what asked for the quit.
        tray_->deleteLater();
        tray_ = nullptr;
    }
}

void GuiRuntime::OnTerminationSignal() {
    if (window_) {
        window_->Quit();
    } else {
        ShutDown();
    }
    QApplication::quit();
}

void GuiRuntime::OnModelChanged(unsigned parts) {
    if (window_) {
        window_->Render(parts);
    }
    if (tray_ != nullptr && (parts & (partSpeedLimit | partTotalSpeed | partTitle)) != 0) {
        tray_->Refresh();
    }
}

// A job waiting for this task (a forwarded get) answers its client now.
void GuiRuntime::OnTaskEnded(const std::string& id, TaskState state) {
    OwnerRuntime::OnTaskEnded(id, state);
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
        EdtTaskDlg dialog(Context(), routed_);
        dialog.SetTaskLookup(&Frame().Queue());
        InitNewTask(dialog, url);
        if (ExecTaskDialog(window_, dialog)) {
            Frame().OnNewTaskAdded(dialog.TaskId(), dialog.StartImmediately());
        }
    });
}

void GuiRuntime::OpenTaskProperties(const std::string& id) {
    EdtTaskDlg dialog(Context(), routed_);
    dialog.SetTaskLookup(&Frame().Queue());
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
    QtQuestions questions;
    ExplorerWindow explorer(window_, Frame(), questions);
    questions.SetParent(&explorer);
    connect(this, &GuiRuntime::LoopRan, &explorer, &ExplorerWindow::Render);
    explorer.exec();
}

void GuiRuntime::CloseRequested() {
    if (window_) {
        window_->Quit();
    }
}

bool GuiRuntime::RaiseWindow() {
    if (!window_ || shutDown_) {
        return false;
    }
    PresentWindow(window_);
    return true;
}

std::optional<std::string> GuiRuntime::ChooseImportFile(const std::string& filter) {
    if (pendingImportFile) {
        return OwnerRuntime::ChooseImportFile(filter);
    }
    QString file =
        QFileDialog::getOpenFileName(window_, QString::fromStdString(Frame().Pane().Title()),
                                     QString(), QStringLiteral("*.txt"));
    if (file.isEmpty()) {
        return std::nullopt;
    }
    return file.toStdString();
}

void GuiRuntime::RunCategoryNameDialog(EdtCatDlg& dialog) {
    if (pendingCategoryName) {
        OwnerRuntime::RunCategoryNameDialog(dialog);
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

int GuiRuntime::OfferLinks(const std::vector<std::string>& urls, const RequestHeaders& headers,
                           bool startNow, CliIo& io) {
    if (window_ == nullptr) {
        return OwnerRuntime::OfferLinks(urls, headers, startNow, io);
    }
    QTimer::singleShot(0, this, [this, urls, headers] {
        if (shutDown_ || urls.empty()) {
            return;
        }
        const LangTable& lang = Context().lang;
        const auto count = static_cast<int64_t>(urls.size());
        std::string text =
            IntToText(count) + " " + lang.GetCountText("Msg_BrowserLinksConfirm", count) + "\n";
        constexpr size_t kShown = 10;
        for (size_t i = 0; i < urls.size() && i < kShown; ++i) {
            text += "\n" + DisplayText(MaskAddressForDisplay(urls[i]));
        }
        if (urls.size() > kShown) {
            text += "\n...";
        }
        Question question;
        question.Text = std::move(text);
        question.Caption = lang.GetAppTitle();
        question.Icon = QuestionIcon::Question;
        question.Buttons = QuestionButtons::YesNo;
        question.Default = QuestionAnswer::Yes;
        if (qtQuestions_.Ask(question) != QuestionAnswer::Yes) {
            return;
        }
        // Addresses the dialog refuses (already a task, no download) are
        // passed over without a box for each.
        NullIo none;
        OwnerRuntime::OfferLinks(urls, headers, true, none);
    });
    return kStatusOk;
}

void GuiRuntime::CompletionAlert(const std::string& localFileName) {
    alert_->Raise(localFileName);
}

}  // namespace vardane::gui
