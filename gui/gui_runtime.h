// The program with its window: the main window model on the data root, its
// window loop driven from Qt's event loop, the requests of other processes
// (vardane-cli commands, addresses of a second start) served as vardane-cli
// run serves them, and the windows and alerts the model asks for.
#pragma once

#include <QObject>
#include <QPointer>
#include <map>
#include <memory>

#include "app/owner_runtime.h"
#include "gui/qt_questions.h"

class QSocketNotifier;
class QTimer;

namespace vardane::gui {

class ClipboardWatch;
class CompletionAlerter;
class DialogAccessKeys;
class IdleInhibitor;
class MainWindow;
class Tray;

// Questions of the user's own actions go to message boxes; those of a
// command another process handed over go back to that process.
class RoutedQuestions : public IQuestions {
  public:
    RoutedQuestions(CliQuestions& cli, QtQuestions& qt) : cli_(cli), qt_(qt) {}
    QuestionAnswer Ask(const Question& question) override {
        return cli_.Bound() ? cli_.Ask(question) : qt_.Ask(question);
    }

  private:
    CliQuestions& cli_;
    QtQuestions& qt_;
};

class GuiRuntime : public QObject, public OwnerRuntime {
    Q_OBJECT
  public:
    GuiRuntime(AppContext& ctx, std::unique_ptr<InstanceLock> lock);
    ~GuiRuntime() override;

    // Start-up of the model, then the window (shown unless MinAtStart) and
    // the address of the command line.
    void StartWindow(const std::string& commandLineUrl);
    MainWindow* Window();
    CompletionAlerter& Alert() { return *alert_; }

    // IMainFrameHost
    void OnModelChanged(unsigned parts) override;
    void OnTaskEnded(const std::string& id, TaskState state) override;
    void SetWaitCursor(bool wait) override;
    void OpenNewTaskDialog(const std::string& url) override;
    void OpenTaskProperties(const std::string& id) override;
    void OpenSettings() override;
    void OpenSiteExplorer() override;
    void CloseRequested() override;
    bool RaiseWindow() override;
    std::optional<std::string> ChooseImportFile(const std::string& filter) override;
    void RunCategoryNameDialog(EdtCatDlg& dialog) override;
    void ReportError(const std::string& text) override;
    void CompletionAlert(const std::string& localFileName) override;
    // A browser page's links: one question in the window, asked once the
    // handing process has its answer.
    int OfferLinks(const std::vector<std::string>& urls, const RequestHeaders& headers,
                   bool startNow, CliIo& io) override;

  Q_SIGNALS:
    // The window loop ran calls (a worker's or the explorer client's report).
    void LoopRan();

  protected:
    void OnTerminationSignal() override;

  private:
    void ServeRequests();
    void ServeSoon();
    void UpdateKeepAwake();
    void WatchClients();
    void ShutDown();

    QtQuestions qtQuestions_;
    RoutedQuestions routed_;
    std::unique_ptr<CompletionAlerter> alert_;
    std::unique_ptr<IdleInhibitor> inhibitor_;
    QPointer<MainWindow> window_;
    QSocketNotifier* wakeNotifier_ = nullptr;
    QSocketNotifier* listenNotifier_ = nullptr;
    QTimer* serveTimer_ = nullptr;
    struct Notifiers {
        QSocketNotifier* read;
        QSocketNotifier* write;
    };
    std::map<int, Notifiers> clientNotifiers_;
    Tray* tray_ = nullptr;
    ClipboardWatch* clipboardWatch_ = nullptr;
    DialogAccessKeys* accessKeys_ = nullptr;
    int waitCursors_ = 0;
    bool shutDown_ = false;
    bool servePending_ = false;
};

}  // namespace vardane::gui
