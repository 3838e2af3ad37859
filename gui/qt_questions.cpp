#include "gui/qt_questions.h"

#include "gui/dialogs/message_box_questions.h"

namespace vardane::gui {

QuestionAnswer CQtQuestions::Ask(const Question& question) {
    return MessageBoxQuestions(parent_).Ask(question);
}

}  // namespace vardane::gui
