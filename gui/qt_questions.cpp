#include "gui/qt_questions.h"

#include <QMessageBox>

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
            return QMessageBox::Information;
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

}  // namespace

QuestionAnswer CQtQuestions::Ask(const Question& question) {
    QMessageBox::StandardButtons buttons = QMessageBox::Ok;
    if (question.Buttons == QuestionButtons::YesNo) {
        buttons = QMessageBox::Yes | QMessageBox::No;
    } else if (question.Buttons == QuestionButtons::OkCancel) {
        buttons = QMessageBox::Ok | QMessageBox::Cancel;
    }
    QMessageBox box(BoxIcon(question.Icon), QString::fromStdString(question.Caption),
                    QString::fromStdString(question.Text), buttons, parent_);
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
