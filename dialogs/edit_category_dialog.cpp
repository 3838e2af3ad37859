#include "dialogs/edit_category_dialog.h"

#include <array>
#include <string_view>

#include "dialogs/message_box.h"

namespace vardane {

namespace {

constexpr std::array<std::string_view, 8> kBlanks = {" ",  "\t", "\r",       "\n",
                                                     "\v", "\f", "\xC2\xA0", "\xE3\x80\x80"};

// Length of the blank that text starts (atEnd: ends) with, 0 when none.
size_t BlankAt(std::string_view text, bool atEnd) {
    for (std::string_view blank : kBlanks) {
        if (atEnd ? text.ends_with(blank) : text.starts_with(blank)) {
            return blank.size();
        }
    }
    return 0;
}

}  // namespace

std::string TrimBlanks(const std::string& text) {
    std::string_view view(text);
    while (size_t n = BlankAt(view, false)) {
        view.remove_prefix(n);
    }
    while (size_t n = BlankAt(view, true)) {
        view.remove_suffix(n);
    }
    return std::string(view);
}

EdtCatDlg::EdtCatDlg(const LangTable& lang, std::string name)
    : lang_(lang),
      title_(lang.GetAppTitle()),
      label_(lang.GetLangText("EdtCatDlg_CatName")),
      editText_(name),
      name_(std::move(name)) {}

bool EdtCatDlg::Ok(IQuestions& questions) {
    const std::string trimmed = TrimBlanks(editText_);
    if (trimmed.empty() || trimmed.find('\\') != std::string::npos) {
        ShowMessage(questions, lang_, lang_.GetLangText("Msg_InputCatName"), QuestionIcon::Error,
                    QuestionButtons::Ok, QuestionAnswer::Ok, kFieldName);
        return false;
    }
    name_ = trimmed;
    accepted_ = true;
    return true;
}

}  // namespace vardane
