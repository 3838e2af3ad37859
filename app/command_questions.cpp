#include "app/command_questions.h"

namespace vardane {

void CliQuestions::Bind(CliIo* io, bool assumeYes) {
    io_ = io;
    assumeYes_ = assumeYes;
    refused_ = false;
}

QuestionAnswer CliQuestions::Ask(const Question& question) {
    const bool isProblem =
        question.Icon == QuestionIcon::Error || question.Icon == QuestionIcon::Exclamation;
    if (question.Buttons == QuestionButtons::Ok) {
        if (io_ != nullptr) {
            (isProblem ? static_cast<void>(io_->Err(question.Text + "\n"))
                       : static_cast<void>(io_->Out(question.Text + "\n")));
        }
        refused_ = refused_ || isProblem;
        return QuestionAnswer::Ok;
    }
    const QuestionAnswer yes =
        question.Buttons == QuestionButtons::YesNo ? QuestionAnswer::Yes : QuestionAnswer::Ok;
    const QuestionAnswer no =
        question.Buttons == QuestionButtons::YesNo ? QuestionAnswer::No : QuestionAnswer::Cancel;
    if (assumeYes_) {
        return yes;
    }
    if (io_ != nullptr && io_->InputIsTerminal()) {
        std::optional<bool> answer = io_->AskYesNo(question.Text);
        if (answer && *answer) {
            return yes;
        }
        refused_ = true;
        return no;
    }
    if (io_ != nullptr) {
        io_->Err(question.Text +
                 "\n(not confirmed: standard input is not a terminal; use --yes)\n");
    }
    refused_ = true;
    return no;
}

}  // namespace vardane
