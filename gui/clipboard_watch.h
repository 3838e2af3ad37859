// With LinkToClipBoard on, a download address copied anywhere on the desktop
// is offered as a new task: a notification with an Add action.
#pragma once

#include <QObject>
#include <string>

namespace vardane {
struct AppContext;
}

namespace vardane::gui {

class CompletionAlerter;

// The address of clipboard text worth an offer: the setting is on, the text
// is one download address (blanks around it aside), and it is not the one
// offered last; "" otherwise.
std::string AddressToOffer(bool linkToClipboard, const std::string& text,
                           const std::string& lastOffered);

class ClipboardWatch : public QObject {
  public:
    ClipboardWatch(AppContext& ctx, CompletionAlerter& alert, QObject* parent = nullptr);

  private:
    void Changed();

    AppContext& ctx_;
    CompletionAlerter& alert_;
    std::string lastOffered_;
};

}  // namespace vardane::gui
