// The site dialog: a saved FTP site's name and address, with the login kept
// inside the address. The checks and the store are the site list's; the
// form only carries the fields there and shows a refusal.
#pragma once

#include <QDialog>
#include <string>

class QCheckBox;
class QLineEdit;
class QPlainTextEdit;

namespace vardane {
class IQuestions;
struct AppContext;
}  // namespace vardane

namespace vardane::gui {

class SiteDialog : public QDialog {
    Q_OBJECT
  public:
    // number: the site edited (1-based), or -1 for a new one, whose address
    // starts as clipboard (or "ftp://" when that is empty).
    SiteDialog(QWidget* parent, AppContext& ctx, int number, IQuestions& questions,
               const std::string& clipboard = {});
    // Saves when the fields pass; otherwise tells why and stays open.
    void accept() override;

  private:
    void ShowLoginFields();

    AppContext& ctx_;
    int number_;
    IQuestions& questions_;
    QLineEdit* name_ = nullptr;
    QPlainTextEdit* url_ = nullptr;
    QCheckBox* login_ = nullptr;
    QLineEdit* user_ = nullptr;
    QLineEdit* password_ = nullptr;
};

// Runs the dialog on the clipboard's text; true when the site was saved.
bool ExecSiteDialog(QWidget* parent, AppContext& ctx, int number, IQuestions& questions);

}  // namespace vardane::gui
