#include <QHBoxLayout>
#include <QLineEdit>
#include <QVBoxLayout>

#include "gui/dialogs/dialog_util.h"
#include "gui/dialogs/dialog_windows.h"
#include "gui/dialogs/gui_dialogs.h"
#include "gui/dialogs/message_box_questions.h"

namespace vardane::gui {

CategoryNameDialog::CategoryNameDialog(QWidget* parent, EdtCatDlg& model, IQuestions& questions)
    : QDialog(parent), model_(model), questions_(questions) {
    setWindowTitle(ToQ(model_.Title()));
    auto* layout = new QVBoxLayout(this);
    auto* row = new QHBoxLayout;
    row->addWidget(KeyLabel(model_.Label(), "EdtCatDlg_CatName", this));
    auto* edit = new QLineEdit(ToQ(model_.EditText()), this);
    edit->setObjectName(EdtCatDlg::kFieldName);
    connect(edit, &QLineEdit::textChanged, this,
            [this](const QString& text) { model_.SetEditText(FromQ(text)); });
    row->addWidget(edit, 1);
    layout->addLayout(row);
    layout->addWidget(OkCancelButtons(this, model_.OkLabel(), model_.CancelLabel()));
}

void CategoryNameDialog::accept() {
    if (model_.Ok(questions_)) {
        QDialog::accept();
    } else {
        FocusField(this, EdtCatDlg::kFieldName);
    }
}

void CategoryNameDialog::reject() {
    model_.Cancel();
    QDialog::reject();
}

void ExecCategoryNameDialog(QWidget* parent, EdtCatDlg& model, IQuestions& questions) {
    CategoryNameDialog dialog(parent, model, questions);
    dialog.exec();
}

void ExecCategoryNameDialog(QWidget* parent, EdtCatDlg& model) {
    MessageBoxQuestions questions(parent);
    ExecCategoryNameDialog(parent, model, questions);
}

RunCategoryNameDialog CategoryNameRunner(QWidget* parent) {
    return [parent](EdtCatDlg& model) { ExecCategoryNameDialog(parent, model); };
}

}  // namespace vardane::gui
