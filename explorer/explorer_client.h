// The explorer's FTP directory client: one thread per explorer window that
// logs into a site, changes folders and delivers each folder's listing line
// by line. The window drives it with posted requests and hears back through
// IExplorerWindow, called on the client's thread; the client never touches
// what the window shows.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "net/connection_owner.h"
#include "net/event_socket.h"
#include "settings/proxy_record.h"

namespace vardane {

struct AppContext;
class FtpSession;

// What the client reports, each call synchronous (the window has handled it
// when it returns).
class IExplorerWindow {
  public:
    virtual ~IExplorerWindow() = default;
    // kind: LogKind, LogKind::Listing for a line of a listing.
    virtual void OnExplorerLog(LogKind kind, const std::string& text) = 0;
    virtual void OnExplorerBusy() = 0;
    virtual void OnExplorerIdle() = 0;
};

// Client states, numbered as the FTP worker's.
enum class ExplorerState : int {
    Disconnect = 0,
    Connecting = 1,
    Connected = 2,
    UserSent = 4,
    CwdSent = 5,
    PwdSent = 6,
    PassSent = 7,
    ListTypeSent = 11,
    ListPortSent = 13,
    Listing = 15,
    PasvSent = 19,
    Stop = 27,
};

// The client thread's own record.
struct ExplorerRecord {
    IExplorerWindow* window = nullptr;
    ExplorerState state = ExplorerState::Disconnect;
    std::string siteAddress;
    std::string scheme, user, password;
    ProxyRecord proxy;
    std::string targetDirectory;
    int waited = 0;  // ms without a network event while busy
    ConnectionSet connections;
    std::string host;
    int port = 21;
    bool paused = true;
    bool idle = true;
    std::string listing;  // the listing received so far
};

class ExplorerClient : private IConnectionOwner {
  public:
    // A listing larger than this is refused (a server that never ends one).
    static constexpr size_t kMaxListingBytes = 64u << 20;
    // Logins refused in a row before the client gives up.
    static constexpr int kMaxLoginRefusals = 3;

    ExplorerClient(AppContext& ctx, IExplorerWindow* window);
    // Quits and joins the thread.
    ~ExplorerClient() override;
    ExplorerClient(const ExplorerClient&) = delete;
    ExplorerClient& operator=(const ExplorerClient&) = delete;

    void PostConnect(const std::string& siteAddress);
    // path is an address path: its %XX are decoded before CWD.
    void PostCwd(const std::string& path);
    void PostReset();
    void PostQuit();
    // True once the thread has ended (after a quit); then Join returns at once.
    bool Finished() const { return finished_; }
    // Whether the last operation ended in the failure report (read after
    // OnExplorerIdle).
    bool LastFailed() const { return failed_; }
    void Join();

  private:
    enum class Request { Quit, Connect, Cwd, Reset };
    struct Message {
        Request request;
        std::string text;
    };
    enum class LineResult { Next, Stop };

    void Run();
    bool HandleMessage(const Message& m);  // false for Quit
    void ConnectStep();
    void EventStep();
    void OnEvents(int slot, const NetworkEvents& events);
    void OnConnectEvent(int slot, const NetworkEvents& events);
    void OnReply();
    LineResult OnReplyLine(const std::string& line, const std::string& code, std::string& pending);
    LineResult OnLoginReply(const std::string& code, std::string& pending);
    LineResult OnLoginRefused(std::string& pending);
    LineResult OpenDataPath(std::string& pending);
    void SendPending(const std::string& pending);
    void ReadListing();
    void DeliverWhenComplete();
    void ChangeDirectory(const std::string& path);
    void FailureReport();
    void Busy();
    void Idle();
    void LogKey(LogKind kind, const char* key, const std::string& values = {});
    int TimeOutMillis();

    // IConnectionOwner
    bool IsStopped() override { return rec_.paused; }
    void ThreadLog(LogKind kind, const std::string& text) override;

    AppContext& ctx_;
    ExplorerRecord rec_;
    // The login, TYPE and data path on rec_.connections.
    std::unique_ptr<FtpSession> session_;
    int loginRefusals_ = 0;
    bool listDataDone_ = false;   // the listing's data connection has closed
    bool listReplyDone_ = false;  // the server confirmed the listing
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Message> queue_;
    std::atomic<bool> finished_{false};
    std::atomic<bool> failed_{false};
    std::thread thread_;
};

}  // namespace vardane
