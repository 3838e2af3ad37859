#include "gui/link_drop.h"

#include <QMimeData>
#include <QUrl>
#include <algorithm>
#include <sstream>

#include "app/main_frame.h"
#include "dialogs/edit_task_dialog.h"
#include "dialogs/question.h"
#include "settings/app_context.h"
#include "task/url.h"

namespace vardane::gui {
namespace {

void AddOnce(std::vector<std::string>& into, const std::string& item) {
    if (std::find(into.begin(), into.end(), item) == into.end()) {
        into.push_back(item);
    }
}

bool Confirmed(IQuestions& questions, const AppContext& ctx, const std::string& text) {
    Question q;
    q.Text = text;
    q.Caption = ctx.lang.GetAppTitle();
    q.Icon = QuestionIcon::Question;
    q.Buttons = QuestionButtons::YesNo;
    q.Default = QuestionAnswer::Yes;
    return questions.Ask(q) == QuestionAnswer::Yes;
}

}  // namespace

bool IsDownloadAddress(const std::string& text) {
    UrlParts parts;
    if (text.find_first_of(" \t") != std::string::npos || !SplitUrl(text, parts)) {
        return false;
    }
    // A folder ("http://host/dir/") names no file to save.
    const std::string path = parts.Tail.substr(0, parts.Tail.find_first_of("?#"));
    const size_t slash = path.rfind('/');
    return slash != std::string::npos && slash + 1 < path.size();
}

DroppedLinks LinksInText(const std::string& text) {
    DroppedLinks links;
    std::istringstream words(text);
    std::string word;
    while (words >> word) {
        // Links copied from prose often come in angle brackets or quotes.
        const size_t first = word.find_first_not_of("<\"'(");
        const size_t last = word.find_last_not_of(">\"'),;");
        if (first == std::string::npos || last == std::string::npos || last < first) {
            continue;
        }
        word = word.substr(first, last - first + 1);
        if (IsDownloadAddress(word)) {
            AddOnce(links.Addresses, word);
        }
    }
    return links;
}

DroppedLinks LinksOf(const QMimeData& data) {
    DroppedLinks links;
    if (data.hasUrls()) {
        for (const QUrl& url : data.urls()) {
            if (url.isLocalFile()) {
                const std::string path = url.toLocalFile().toStdString();
                if (url.toLocalFile().endsWith(QStringLiteral(".txt"), Qt::CaseInsensitive)) {
                    AddOnce(links.ListFiles, path);
                }
                continue;
            }
            const std::string address = url.toString(QUrl::FullyEncoded).toStdString();
            if (IsDownloadAddress(address)) {
                AddOnce(links.Addresses, address);
            }
        }
        if (!links.Empty()) {
            return links;
        }
    }
    return data.hasText() ? LinksInText(data.text().toStdString()) : links;
}

void TakeLinks(const DroppedLinks& links, AppContext& ctx, MainFrame& frame, IQuestions& questions,
               const std::function<void(const std::string&)>& openDialog) {
    for (const std::string& file : links.ListFiles) {
        if (Confirmed(questions, ctx, ctx.lang.GetLangText("Msg_ImportConfirm"))) {
            frame.Operations().ImportFile(file);
        }
    }
    if (links.Addresses.size() == 1) {
        openDialog(links.Addresses[0]);
        return;
    }
    if (links.Addresses.empty() || !Confirmed(questions, ctx,
                                              std::to_string(links.Addresses.size()) + " " +
                                                  ctx.lang.GetLangText("Msg_AddLinksConfirm"))) {
        return;
    }
    // Each as the New task dialog would add it with its defaults: a refused
    // one (already a task) is said and the others still come.
    for (const std::string& address : links.Addresses) {
        EdtTaskDlg dialog(ctx, questions);
        dialog.InitNew(address);
        if (dialog.Ok()) {
            frame.OnNewTaskAdded(dialog.TaskId(), dialog.StartImmediately());
        }
    }
}

}  // namespace vardane::gui
