#include "gui/dialogs/dialog_util.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace vardane::gui {

QLabel* KeyLabel(const std::string& text, const char* key, QWidget* parent) {
    auto* label = new QLabel(ToQ(text), parent);
    label->setObjectName(key);
    return label;
}

QLineEdit* BoundEdit(const std::string& text, const char* name, QWidget* parent,
                     std::function<void(std::string)> set) {
    auto* edit = new QLineEdit(ToQ(text), parent);
    edit->setObjectName(name);
    QObject::connect(edit, &QLineEdit::textChanged, parent,
                     [set = std::move(set)](const QString& value) { set(FromQ(value)); });
    return edit;
}

QCheckBox* BoundCheck(const std::string& label, bool checked, const char* name, QWidget* parent,
                      std::function<void(bool)> set) {
    auto* box = new QCheckBox(ToQ(label), parent);
    box->setObjectName(name);
    box->setChecked(checked);
    QObject::connect(box, &QCheckBox::toggled, parent, std::move(set));
    return box;
}

QComboBox* BoundCombo(const std::vector<std::string>& entries, int selection, const char* name,
                      QWidget* parent, std::function<void(int)> set) {
    auto* combo = new QComboBox(parent);
    combo->setObjectName(name);
    for (const std::string& entry : entries) {
        combo->addItem(ToQ(entry));
    }
    combo->setCurrentIndex(selection);
    QObject::connect(combo, &QComboBox::currentIndexChanged, parent, std::move(set));
    return combo;
}

QDialogButtonBox* OkCancelButtons(QDialog* dialog, const std::string& ok,
                                  const std::string& cancel) {
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
    // Without a language file the texts are empty: keep the toolkit's own.
    if (!ok.empty()) {
        buttons->button(QDialogButtonBox::Ok)->setText(ToQ(ok));
    }
    if (!cancel.empty()) {
        buttons->button(QDialogButtonBox::Cancel)->setText(ToQ(cancel));
    }
    QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    return buttons;
}

void FocusField(QWidget* window, const std::string& field) {
    if (field.empty()) {
        return;
    }
    auto* widget = window->findChild<QWidget*>(ToQ(field));
    if (widget == nullptr) {
        return;
    }
    widget->setFocus(Qt::OtherFocusReason);
    if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
        edit->selectAll();
    }
}

}  // namespace vardane::gui
