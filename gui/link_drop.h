// Links dropped on the window or pasted into it: every download address of
// the text or URL list, and the text files among dropped local files (their
// lines are imported as the Import command does).
#pragma once

#include <functional>
#include <string>
#include <vector>

class QMimeData;

namespace vardane {
class MainFrame;
class IQuestions;
struct AppContext;
}  // namespace vardane

namespace vardane::gui {

struct DroppedLinks {
    std::vector<std::string> Addresses;  // http, https and ftp, in order, once each
    std::vector<std::string> ListFiles;  // local *.txt files
    bool Empty() const { return Addresses.empty() && ListFiles.empty(); }
};

// An http, https or ftp address naming a file (the New task flow would
// take it); no blanks, no control characters.
bool IsDownloadAddress(const std::string& text);

// The download addresses among the blank-separated words of text.
DroppedLinks LinksInText(const std::string& text);
// The same for a drop or the clipboard: its URL list (local files ending in
// .txt become list files), else its text.
DroppedLinks LinksOf(const QMimeData& data);

// What the window does with them: one address opens the New task dialog
// with it (openDialog); several become one task each with the defaults
// after one confirmation; a list file is imported after the import's own
// confirmation.
void TakeLinks(const DroppedLinks& links, AppContext& ctx, MainFrame& frame, IQuestions& questions,
               const std::function<void(const std::string&)>& openDialog);

}  // namespace vardane::gui
