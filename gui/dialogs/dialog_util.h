// Small helpers shared by the dialog windows.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QString>

class QDialog;

namespace vardane::gui {

inline QString ToQ(const std::string& text) {
    return QString::fromStdString(text);
}
inline std::string FromQ(const QString& text) {
    return text.toStdString();
}

// A label whose object name is its language key, so that a test finds it.
QLabel* KeyLabel(const std::string& text, const char* key, QWidget* parent);

// Controls that send every change to a model through set. name is the
// object name: the model's field name where a refusal can focus it.
QLineEdit* BoundEdit(const std::string& text, const char* name, QWidget* parent,
                     std::function<void(std::string)> set);
QCheckBox* BoundCheck(const std::string& label, bool checked, const char* name, QWidget* parent,
                      std::function<void(bool)> set);
QComboBox* BoundCombo(const std::vector<std::string>& entries, int selection, const char* name,
                      QWidget* parent, std::function<void(int)> set);

// The Ok/Cancel buttons of a dialog, wired to its accept and reject.
QDialogButtonBox* OkCancelButtons(QDialog* dialog, const std::string& ok,
                                  const std::string& cancel);

// Puts the focus on the child named field (a model's focus field name) and
// selects the whole text of an edit.
void FocusField(QWidget* window, const std::string& field);

// OK of a dialog over model: true when the model accepted; after a refusal
// the focus goes to the field the model names.
template <typename Model>
bool ModelAccepts(QWidget* window, Model& model) {
    if (model.Ok()) {
        return true;
    }
    FocusField(window, model.FocusField());
    return false;
}

}  // namespace vardane::gui
