#include "gui/dialogs/message_box_questions.h"

#include <QMessageBox>

#include "gui/dialogs/dialog_util.h"

namespace vardane::gui {

namespace {

QMessageBox::Icon BoxIcon(QuestionIcon icon) {
    switch (icon) {
        case QuestionIcon::Question:
            return QMessageBox::Question;
        case QuestionIcon::Exclamation:
            return QMessageBox::Warning;
        case QuestionIcon::Error:
            return QMessageBox::Critical;
        case QuestionIcon::Information:
            break;
    }
    return QMessageBox::Information;
}

QMessageBox::StandardButton BoxButton(QuestionAnswer answer) {
    switch (answer) {
        case QuestionAnswer::Ok:
            return QMessageBox::Ok;
        case QuestionAnswer::Cancel:
            return QMessageBox::Cancel;
        case QuestionAnswer::Yes:
            return QMessageBox::Yes;
        case QuestionAnswer::No:
            return QMessageBox::No;
    }
    return QMessageBox::Ok;
}

QMessageBox::StandardButtons BoxButtons(QuestionButtons buttons) {
    switch (buttons) {
        case QuestionButtons::YesNo:
            return QMessageBox::Yes | QMessageBox::No;
        case QuestionButtons::OkCancel:
            return QMessageBox::Ok | QMessageBox::Cancel;
        case QuestionButtons::Ok:
            break;
    }
    return QMessageBox::Ok;
}

}  // namespace

QuestionAnswer MessageBoxQuestions::Ask(const Question& question) {
    QMessageBox box(BoxIcon(question.Icon), ToQ(question.Caption), ToQ(question.Text),
                    BoxButtons(question.Buttons), parent_);
    box.setDefaultButton(BoxButton(question.Default));
    switch (box.exec()) {
        case QMessageBox::Yes:
            return QuestionAnswer::Yes;
        case QMessageBox::No:
            return QuestionAnswer::No;
        case QMessageBox::Cancel:
            return QuestionAnswer::Cancel;
        case QMessageBox::Ok:
            return QuestionAnswer::Ok;
        default:
            break;
    }
    // Closing the box is the safe answer, never a yes.
    if (question.Buttons == QuestionButtons::YesNo) {
        return QuestionAnswer::No;
    }
    return question.Buttons == QuestionButtons::OkCancel ? QuestionAnswer::Cancel
                                                         : QuestionAnswer::Ok;
}

}  // namespace vardane::gui
