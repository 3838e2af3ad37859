// The main window's side of the explorer: a picked file becomes a stopped
// task in the downloading list (started at once when DownloadImmediately is
// set), as the task commands make them.
#pragma once

#include <string>

#include "explorer/site_explorer.h"

namespace vardane {

class MainFrame;

// Returns IExplorerHost::added,
// IExplorerHost::alreadyQueued when the downloading list holds url, or
// IExplorerHost::failed when url names no file (or its progress file cannot
// be written).
int AddExplorerTask(MainFrame& frame, const std::string& folder, const std::string& url);

// The explorer's host on a main window; the clipboard text is kept for the
// front end to publish.
class FrameExplorerHost : public IExplorerHost {
  public:
    explicit FrameExplorerHost(MainFrame& frame) : frame_(frame) {}
    int AddExplorerTask(const std::string& folder, const std::string& url) override;
    void SetClipboardText(const std::string& text) override { clipboard_ = text; }
    const std::string& ClipboardText() const { return clipboard_; }

  private:
    MainFrame& frame_;
    std::string clipboard_;
};

}  // namespace vardane
