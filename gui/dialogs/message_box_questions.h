// IQuestions as a message box: the question's text, caption, icon and
// buttons.
#pragma once

#include "dialogs/question.h"

class QWidget;

namespace vardane::gui {

class MessageBoxQuestions : public IQuestions {
  public:
    explicit MessageBoxQuestions(QWidget* parent) : parent_(parent) {}
    QuestionAnswer Ask(const Question& question) override;

  private:
    QWidget* parent_;
};

}  // namespace vardane::gui
