// Questions of the window models answered without a display: messages are
// printed, a Yes/No question is answered by --yes, by the person at the
// terminal, or refused with its text when nobody can answer.
#pragma once

#include "app/command_io.h"
#include "dialogs/question.h"

namespace vardane {

class CliQuestions : public IQuestions {
  public:
    // Sets where the questions of the next command go (nullptr: refuse all).
    void Bind(CliIo* io, bool assumeYes);
    QuestionAnswer Ask(const Question& question) override;
    // A command's output is bound: its questions are answered here.
    bool Bound() const { return io_ != nullptr; }

    // A refusal or an error message was shown, or a question was declined,
    // since the last Bind.
    bool Refused() const { return refused_; }

  private:
    CliIo* io_ = nullptr;
    bool assumeYes_ = false;
    bool refused_ = false;
};

}  // namespace vardane
