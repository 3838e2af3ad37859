// Access keys (Alt+letter) for menus and buttons. A menu text's letter comes
// from the language file (key "Access_" + the text's key), so a translation
// picks its own; a text without that letter gets it appended in the style of
// Chinese menus, "导入列表(&I)...". Buttons of dialogs that have none get a
// free letter of their own text.
#pragma once

#include <QObject>
#include <QString>
#include <string>

class QWidget;

namespace vardane {
class LangTable;
}

namespace vardane::gui {

// text with '&' escaped and the access key letter marked: before the
// letter's first occurrence at the start of a word, else its first
// occurrence, else appended as "(&L)" (before a trailing "..."). An empty
// letter marks nothing.
QString WithAccessKey(const std::string& text, const std::string& letter);

// The text of key with the access key its language file gives it.
QString AccessText(const LangTable& lang, const std::string& key);

// Marks an access key on every button below root whose text has none: the
// first letter of a word, else any letter, not used by another button there.
void MarkButtonAccessKeys(QWidget* root);

// Installed on the application: every dialog is marked as it is shown.
class DialogAccessKeys : public QObject {
  public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override;
};

}  // namespace vardane::gui
