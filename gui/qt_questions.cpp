#include "gui/qt_questions.h"

#include "gui/dialogs/message_box_questions.h"

namespace vardane::gui {

QuestionAnswer QtQuestions::Ask(const Question& question) {
    return MessageBoxQuestions(parent_).Ask(question);
}

}  // namespace vardane::gui
