// Questions of the window models shown as message boxes.
#pragma once

#include <QPointer>
#include <QWidget>

#include "dialogs/question.h"

namespace vardane::gui {

class QtQuestions : public IQuestions {
  public:
    // Boxes open over parent (may be null).
    void SetParent(QWidget* parent) { parent_ = parent; }
    QuestionAnswer Ask(const Question& question) override;

  private:
    QPointer<QWidget> parent_;
};

}  // namespace vardane::gui
