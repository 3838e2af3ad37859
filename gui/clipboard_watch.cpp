#include "gui/clipboard_watch.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

#include "gui/completion_alert.h"
#include "gui/link_drop.h"
#include "settings/app_context.h"

namespace vardane::gui {

std::string AddressToOffer(bool linkToClipboard, const std::string& text,
                           const std::string& lastOffered) {
    if (!linkToClipboard) {
        return "";
    }
    const size_t first = text.find_first_not_of(" \t\r\n");
    const size_t last = text.find_last_not_of(" \t\r\n");
    if (first == std::string::npos) {
        return "";
    }
    const std::string address = text.substr(first, last - first + 1);
    return IsDownloadAddress(address) && address != lastOffered ? address : "";
}

ClipboardWatch::ClipboardWatch(AppContext& ctx, CompletionAlerter& alert, QObject* parent)
    : QObject(parent), ctx_(ctx), alert_(alert) {
    connect(QGuiApplication::clipboard(), &QClipboard::dataChanged, this, [this] { Changed(); });
}

void ClipboardWatch::Changed() {
    QClipboard* clipboard = QGuiApplication::clipboard();
    // An address this program copied (the site explorer's Copy Address) is
    // no news to the user.
    if (clipboard->ownsClipboard()) {
        return;
    }
    const std::string address = AddressToOffer(ctx_.settings.LinkToClipBoard,
                                               clipboard->text().toStdString(), lastOffered_);
    if (!address.empty()) {
        lastOffered_ = address;
        alert_.OfferAddress(address);
    }
}

}  // namespace vardane::gui
