#include "dialogs/message_box.h"

namespace vardane {

QuestionAnswer ShowMessage(IQuestions& questions, const LangTable& lang, std::string text,
                           QuestionIcon icon, QuestionButtons buttons, QuestionAnswer defaultAnswer,
                           std::string focusField) {
    Question question;
    question.Text = std::move(text);
    question.Caption = lang.GetAppTitle();
    question.Icon = icon;
    question.Buttons = buttons;
    question.Default = defaultAnswer;
    question.FocusField = std::move(focusField);
    return questions.Ask(question);
}

}  // namespace vardane
