// What MainFrame needs from its front end: to hear that its state changed,
// and to run the windows and dialogs that the model does not own. Every call
// comes on the window thread. The defaults do nothing, which is what a
// front end without that window wants.
#pragma once

#include <optional>
#include <string>

#include "task/task_state.h"

namespace vardane {

class EdtCatDlg;
struct TaskLogEntry;

// Parts of the model that changed (bit flags for OnModelChanged).
enum ModelPart : unsigned {
    partRows = 1u << 0,  // rows added, removed, reordered or changed
    partLogTree = 1u << 1,
    partLogList = 1u << 2,
    partTotalSpeed = 1u << 3,
    partFileCount = 1u << 4,
    partMenus = 1u << 5,
    partFolders = 1u << 6,  // folder tree content, selection or visibility
    partSpeedLimit = 1u << 7,
    partTabs = 1u << 8,
    partTitle = 1u << 9,
};

class IMainFrameHost {
  public:
    virtual ~IMainFrameHost() = default;

    virtual void OnModelChanged(unsigned /*parts*/) {}
    // A row's texts or icon changed (progress, state) without the row set
    // changing; cheaper than partRows for a list view.
    virtual void OnRowChanged(int /*row*/) {}
    virtual void SetWaitCursor(bool /*wait*/) {}

    // Windows the model asks for. A front end runs the dialog model and calls
    // back MainFrame::OnNewTaskAdded / OnTaskEdited when it was accepted.
    virtual void OpenNewTaskDialog(const std::string& /*url*/) {}
    virtual void OpenTaskProperties(const std::string& /*id*/) {}
    virtual void OpenSettings() {}
    virtual void OpenSiteExplorer() {}
    // The Exit command: the front end closes the window (MainFrame::Close).
    virtual void CloseRequested() {}
    // A second start of the program without an address: the window comes to
    // the front (also out of the tray). False when there is no window.
    virtual bool RaiseWindow() { return false; }
    // The import file chooser with its filter ("*.txt;"); nullopt on cancel.
    virtual std::optional<std::string> ChooseImportFile(const std::string& /*filter*/) {
        return std::nullopt;
    }
    // Runs the category name dialog modally (OK and Cancel forwarded to it);
    // not accepted when the front end has no such dialog.
    virtual void RunCategoryNameDialog(EdtCatDlg& /*dialog*/) {}

    // A task's end was handled (also a start abandoned at once): its final
    // state, after the rows and lists were updated. ListLock may be held:
    // note the fact and act on it later.
    virtual void OnTaskEnded(const std::string& /*id*/, TaskState /*state*/) {}
    // Every log line of every running task, before the log view's filter.
    virtual void OnTaskLog(const TaskLogEntry& /*entry*/) {}

    // A file operation of the model failed (a folder, a list or a progress
    // file could not be written): the text says what and where.
    virtual void ReportError(const std::string& /*text*/) {}
    // Asked now and then while a long import runs: true when the user asked
    // to stop it (the addresses read so far are kept).
    virtual bool ImportCancelled() { return false; }

    // A task completed: the completion alert with the file name.
    virtual void CompletionAlert(const std::string& /*localFileName*/) {}
    // Every 20 s while the program runs: keep the machine from suspending.
    // Called on the keep-awake thread.
    virtual void KeepAwake() {}
};

}  // namespace vardane
