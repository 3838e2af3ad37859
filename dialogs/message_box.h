// Message boxes of the window models: the text of a language key (or a
// composed text) with the program title as caption, asked through IQuestions.
#pragma once

#include <string>

#include "dialogs/question.h"
#include "lang/lang_table.h"

namespace vardane {

// Asks text with the caption GetAppTitle().
QuestionAnswer ShowMessage(IQuestions& questions, const LangTable& lang, std::string text,
                           QuestionIcon icon, QuestionButtons buttons = QuestionButtons::Ok,
                           QuestionAnswer defaultAnswer = QuestionAnswer::Ok,
                           std::string focusField = "");

}  // namespace vardane
