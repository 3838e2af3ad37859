// The Qt dialogs over the core's dialog models. The widgets show the model's
// fields and forward every change and button to it; the models decide.
#pragma once

#include <string>

#include "dialogs/browse_dialog.h"
#include "dialogs/edit_category_dialog.h"

class QWidget;

namespace vardane {
class EdtTaskDlg;
class IQuestions;
struct AppContext;
}  // namespace vardane

namespace vardane::gui {

// The new/edit task dialog; true when OK was accepted by the model.
bool ExecTaskDialog(QWidget* parent, EdtTaskDlg& model);
// InitNew for the new-task dialog: an empty url takes the clipboard's text.
void InitNewTask(EdtTaskDlg& model, const std::string& url);

// The category name dialog; model.Accepted() tells. A refused name is shown
// in a message box, or asked through questions.
void ExecCategoryNameDialog(QWidget* parent, EdtCatDlg& model);
void ExecCategoryNameDialog(QWidget* parent, EdtCatDlg& model, IQuestions& questions);
// The same as the runner the category commands take.
RunCategoryNameDialog CategoryNameRunner(QWidget* parent);

// The settings sheet; true when the settings were saved.
bool ExecSettingsSheet(QWidget* parent, AppContext& ctx, IQuestions& questions);

// Runs the core's browser with the desktop's file dialog: a folder when the
// browser has no filter, else a file of its types.
RunBrowseDialog BrowseRunner(QWidget* parent);

}  // namespace vardane::gui
