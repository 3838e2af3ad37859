// A one-folder FTP responder on 127.0.0.1 for vardane-screenshots: enough
// of the protocol (login, CWD, PWD, TYPE, PASV, LIST) for the site explorer
// to show a listing without a server installed. One control connection at
// a time; it ends with the object.
#pragma once

#include <atomic>
#include <string>
#include <thread>

namespace vardane::gui {

class ScreenshotFtp {
  public:
    // listing: the LIST answer, lines ending with CR LF.
    explicit ScreenshotFtp(std::string listing);
    ~ScreenshotFtp();
    ScreenshotFtp(const ScreenshotFtp&) = delete;
    ScreenshotFtp& operator=(const ScreenshotFtp&) = delete;

    // 0 when no port could be opened.
    int Port() const { return port_; }

  private:
    void Serve();
    void Session(int control);
    bool SendListing(int& passive);

    std::string listing_;
    int listen_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace vardane::gui
