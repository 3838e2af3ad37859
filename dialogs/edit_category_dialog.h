// EdtCatDlg: asks for the name of a category.
#pragma once

#include <functional>
#include <string>

#include "dialogs/question.h"
#include "lang/lang_table.h"

namespace vardane {

class EdtCatDlg {
  public:
    // Focus field of the name edit in refusals.
    static constexpr const char* kFieldName = "CatName";

    // name: the initial text, "" for a new category.
    EdtCatDlg(const LangTable& lang, std::string name = "");

    const std::string& Title() const { return title_; }
    const std::string& Label() const { return label_; }
    // Texts of the Ok/Cancel commands.
    std::string OkLabel() const { return lang_.GetLangText("Menu_General_Ok"); }
    std::string CancelLabel() const { return lang_.GetLangText("Menu_General_Cancel"); }

    const std::string& EditText() const { return editText_; }
    void SetEditText(std::string text) { editText_ = std::move(text); }

    // The OK command. Takes the edit text without surrounding white space;
    // an empty name is refused with Msg_InputCatName and the dialog stays
    // open (false). A name holding '\' is refused the same way: it would be
    // taken as a path of two keys and could never be found again.
    bool Ok(IQuestions& questions);
    void Cancel() { accepted_ = false; }

    bool Accepted() const { return accepted_; }
    // The accepted name (trimmed); the initial name before OK.
    const std::string& Name() const { return name_; }

  private:
    const LangTable& lang_;
    std::string title_;
    std::string label_;
    std::string editText_;
    std::string name_;
    bool accepted_ = false;
};

// Runs the dialog modally: the front end shows it and forwards OK and Cancel
// until it closes. Callers then read Accepted() and Name().
using RunCategoryNameDialog = std::function<void(EdtCatDlg&)>;

// Text without leading and trailing white space (ASCII white space, the
// no-break space and the ideographic space).
std::string TrimBlanks(const std::string& text);

}  // namespace vardane
