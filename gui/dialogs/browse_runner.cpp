#include <QFileDialog>
#include <QStringList>

#include "gui/dialogs/dialog_util.h"
#include "gui/dialogs/gui_dialogs.h"

namespace vardane::gui {

namespace {

// "*.wav;*.mp3;" as a file dialog filter: "<description> (*.wav *.mp3)".
QString NameFilter(const BrowseDlg& dlg) {
    QStringList patterns = ToQ(dlg.Filter()).split(';', Qt::SkipEmptyParts);
    return ToQ(dlg.Description()) + " (" + patterns.join(' ') + ")";
}

// The chosen path, "" after Cancel; folders end with '/'.
std::string AskPath(QWidget* parent, const BrowseDlg& dlg) {
    const QString caption = ToQ(dlg.Caption());
    if (dlg.Filter().empty()) {
        std::string folder = FromQ(QFileDialog::getExistingDirectory(parent, caption));
        if (!folder.empty() && folder.back() != '/') {
            folder += '/';
        }
        return folder;
    }
    return FromQ(QFileDialog::getOpenFileName(parent, caption, QString(), NameFilter(dlg)));
}

}  // namespace

// The model has the last word: a path its tree would not offer (a file of
// another type, say) is taken as Cancel.
RunBrowseDialog BrowseRunner(QWidget* parent) {
    return [parent](BrowseDlg& dlg) {
        const std::string path = AskPath(parent, dlg);
        if (!path.empty() && dlg.PathOf(dlg.ExpandToPath(path)) == path) {
            dlg.Ok();
        } else {
            dlg.Cancel();
        }
    };
}

}  // namespace vardane::gui
