// The dialog windows behind gui_dialogs.h. Each holds a reference to its
// model, which outlives it; child widgets carry the model's field names (or
// their language keys, for labels) as object names.
#pragma once

#include <QDialog>

#include "dialogs/edit_category_dialog.h"
#include "dialogs/edit_proxy_dialog.h"
#include "dialogs/edit_task_dialog.h"
#include "dialogs/setting_sheet.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QRadioButton;
class QTabWidget;
class QTreeWidget;
class QTreeWidgetItem;

namespace vardane::gui {

class TaskDialog : public QDialog {
  public:
    TaskDialog(QWidget* parent, EdtTaskDlg& model);
    void accept() override;
    void reject() override;

  private:
    QWidget* BuildUrlAndFile();
    QWidget* BuildCategory();
    QWidget* BuildLogin();
    QWidget* BuildStartAndProxy();
    void ShowLoginFields();
    void ShowCategory();
    void OnCategoryItem(QTreeWidgetItem* item, bool byMouse);

    EdtTaskDlg& model_;
    bool refreshing_ = false;
    QPlainTextEdit* url_ = nullptr;
    QLineEdit* saveTo_ = nullptr;
    QLineEdit* rename_ = nullptr;
    QLabel* category_ = nullptr;
    QTreeWidget* tree_ = nullptr;
    QCheckBox* login_ = nullptr;
    QLineEdit* user_ = nullptr;
    QLineEdit* password_ = nullptr;
};

class CategoryNameDialog : public QDialog {
  public:
    CategoryNameDialog(QWidget* parent, EdtCatDlg& model, IQuestions& questions);
    void accept() override;
    void reject() override;

  private:
    EdtCatDlg& model_;
    IQuestions& questions_;
};

class ProxyDialog : public QDialog {
  public:
    ProxyDialog(QWidget* parent, EdtProxyDlg& model);
    void accept() override;
    void reject() override;

  private:
    void ShowEnabledFields();

    EdtProxyDlg& model_;
    QWidget* server_ = nullptr;
    QWidget* port_ = nullptr;
    QWidget* authenticate_ = nullptr;
    QWidget* user_ = nullptr;
    QWidget* password_ = nullptr;
};

class SettingsSheetDialog : public QDialog {
  public:
    SettingsSheetDialog(QWidget* parent, SettingDlgSheet& model);
    void accept() override;
    void reject() override;

  private:
    QWidget* BuildGeneral();
    QWidget* BuildConnection();
    QWidget* BuildMessage();
    QWidget* BuildProtocol();
    QWidget* BuildProxy();
    void ShowProxyRows();
    void EditProxy();

    SettingDlgSheet& model_;
    QTabWidget* tabs_ = nullptr;
    QTreeWidget* proxies_ = nullptr;
};

}  // namespace vardane::gui
