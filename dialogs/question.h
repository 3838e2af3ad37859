// Questions to the user: confirmations, refusals and invalid input. Window
// models ask through this interface; the GUI shows a message box, the CLI
// answers from its flags or refuses with the message text.
#pragma once

#include <string>

namespace vardane {

enum class QuestionIcon { Question, Exclamation, Error, Information };
enum class QuestionButtons { Ok, YesNo, OkCancel };
enum class QuestionAnswer { Ok, Cancel, Yes, No };

struct Question {
    std::string Text;
    std::string Caption;  // the program title for every message box
    QuestionIcon Icon = QuestionIcon::Information;
    QuestionButtons Buttons = QuestionButtons::Ok;
    QuestionAnswer Default = QuestionAnswer::Ok;
    // The dialog field that gets the focus after an invalid input ("" none).
    std::string FocusField;
};

class IQuestions {
  public:
    virtual ~IQuestions() = default;
    virtual QuestionAnswer Ask(const Question& question) = 0;
};

}  // namespace vardane
