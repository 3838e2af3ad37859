// The directory client's thread: requests in, one connect or event step per
// turn, the login and listing sequence driven by the server's reply codes.
#include "explorer/explorer_client.h"

#include <optional>
#include <vector>

#include "engine/ftp_reply.h"
#include "engine/ftp_session.h"
#include "explorer/site_list.h"
#include "net/proxy.h"
#include "net/send_command.h"
#include "platform/text.h"
#include "settings/app_context.h"

namespace vardane {

using S = ExplorerState;

namespace {

bool IsLoggingIn(S s) {
    return s == S::Disconnect || s == S::Connecting || s == S::Connected || s == S::UserSent ||
           s == S::PassSent;
}

}  // namespace

ExplorerClient::ExplorerClient(AppContext& ctx, IExplorerWindow* window)
    : ctx_(ctx),
      session_(std::make_unique<FtpSession>(rec_.connections, static_cast<IConnectionOwner&>(*this),
                                            ctx.lang)) {
    rec_.window = window;
    thread_ = std::thread([this] { Run(); });
}

ExplorerClient::~ExplorerClient() {
    PostQuit();
    Join();
}

void ExplorerClient::Join() {
    if (thread_.joinable()) {
        thread_.join();
    }
}

void ExplorerClient::PostConnect(const std::string& siteAddress) {
    std::lock_guard lock(mutex_);
    queue_.push_back({Request::Connect, siteAddress});
    wake_.notify_one();
}

void ExplorerClient::PostCwd(const std::string& path) {
    std::lock_guard lock(mutex_);
    queue_.push_back({Request::Cwd, path});
    wake_.notify_one();
}

void ExplorerClient::PostReset() {
    std::lock_guard lock(mutex_);
    queue_.push_back({Request::Reset, {}});
    wake_.notify_one();
}

void ExplorerClient::PostQuit() {
    std::lock_guard lock(mutex_);
    queue_.push_back({Request::Quit, {}});
    wake_.notify_one();
}

void ExplorerClient::Run() {
    for (;;) {
        std::optional<Message> message;
        {
            std::unique_lock lock(mutex_);
            const bool waiting = rec_.paused || rec_.state == S::Stop;
            if (queue_.empty() && waiting) {
                wake_.wait_for(lock, std::chrono::milliseconds(kWaitMillis));
            }
            if (!queue_.empty()) {
                message = std::move(queue_.front());
                queue_.pop_front();
            }
        }
        if (message && !HandleMessage(*message)) {
            finished_ = true;
            return;
        }
        if (rec_.paused) {
            continue;
        }
        if (rec_.state == S::Disconnect) {
            ConnectStep();
        } else if (rec_.state != S::Stop) {
            EventStep();
        }
    }
}

bool ExplorerClient::HandleMessage(const Message& m) {
    switch (m.request) {
        case Request::Quit:
            CloseSockets(rec_.connections, kConnectionSlots);
            LogKey(LogKind::Info, "Log_Disconnected");
            rec_.paused = true;
            return false;
        case Request::Connect:
            rec_.siteAddress = m.text;
            rec_.paused = false;
            rec_.listing.clear();
            rec_.targetDirectory.clear();
            rec_.state = S::Disconnect;
            return true;
        case Request::Cwd:
            ChangeDirectory(m.text);
            return true;
        case Request::Reset:
            rec_.state = S::Disconnect;
            return true;
    }
    return true;
}

void ExplorerClient::ConnectStep() {
    ConnectionSet& set = rec_.connections;
    CloseSockets(set, kConnectionSlots);
    CreateSockets(set, kConnectionSlots);
    SiteAddress site;
    if (ParseSiteUrl(rec_.siteAddress, site, true)) {
        rec_.scheme = site.scheme;
        rec_.user = site.user;
        rec_.password = site.password;
        rec_.host = site.host;
        rec_.port = site.port;
    }
    int proxyNumber;
    {
        std::lock_guard lock(ctx_.SpeedLock);
        proxyNumber = ctx_.settings.ProxyFTP;
    }
    rec_.proxy = LoadProxyRecord(ctx_, proxyNumber);
    loginRefusals_ = 0;
    Busy();
    session_->Connect(FtpServer{rec_.host, rec_.port, rec_.user, rec_.password, rec_.proxy});
    rec_.state = S::Connecting;
    rec_.listing.clear();
}

int ExplorerClient::TimeOutMillis() {
    int seconds;
    {
        std::lock_guard lock(ctx_.SpeedLock);
        seconds = ctx_.settings.ConnectionTimeOut;
    }
    // No setting must mean "wait for ever": a silent server would hold the
    // window busy.
    return (seconds > 0 ? seconds : 60) * 1000;
}

void ExplorerClient::EventStep() {
    const int slot = WaitForEvents(rec_.connections, kConnectionSlots);
    NetworkEvents events;
    if (slot == kWaitFailed) {
        rec_.state = S::Stop;
    } else if (slot == kWaitTimeout) {
        if (!rec_.idle) {
            rec_.waited += kWaitMillis;
            if (rec_.waited >= TimeOutMillis()) {
                LogKey(LogKind::Error, "Log_TimeOut");
                rec_.state = S::Stop;
            }
        }
    } else {
        rec_.waited = 0;
        if (!EnumNetworkEvents(rec_.connections, slot, events)) {
            rec_.state = S::Stop;
        } else {
            OnEvents(slot, events);
        }
    }
    if (rec_.state == S::Stop) {
        FailureReport();
    }
}

void ExplorerClient::OnEvents(int slot, const NetworkEvents& events) {
    const int happened = events.NetworkEvents;
    if (happened & kFdConnect) {
        OnConnectEvent(slot, events);
    }
    if ((happened & kFdAccept) && !rec_.proxy.PASV && rec_.state != S::Stop) {
        // A stranger turned away leaves the listener waiting for the server.
        if (!session_->AcceptData() && events.AcceptError != 0) {
            rec_.state = S::Stop;
        }
    }
    if ((happened & (kFdRead | kFdClose)) && rec_.state > S::Connecting && rec_.state != S::Stop) {
        if (slot == slotControl) {
            OnReply();
        } else if (slot == slotData) {
            ReadListing();
        }
    }
    if ((happened & kFdClose) && rec_.state != S::Stop) {
        if (slot == slotControl) {
            rec_.state = S::Stop;
        } else if (slot == slotData) {
            CloseSocket(rec_.connections, slotData);
            if (rec_.state == S::Listing && !rec_.idle) {
                listDataDone_ = true;
                DeliverWhenComplete();
            }
        }
    }
}

void ExplorerClient::OnConnectEvent(int slot, const NetworkEvents& events) {
    if (events.ConnectError != 0) {
        // Also a data connection: the listing it was for will never come.
        rec_.state = S::Stop;
        return;
    }
    const bool control = rec_.state != S::Listing && slot != slotData;
    if (control) {
        rec_.state = S::Connected;
    }
    if (session_->OnConnected(slot, control) == proxyFailed) {
        rec_.state = S::Stop;
    }
}

void ExplorerClient::OnReply() {
    std::vector<FtpReplyReader::Line> lines;
    bool bounded = true;
    const ControlRead read = session_->ReadReplies(lines, bounded);
    if (read == ControlRead::Failed) {
        rec_.state = S::Stop;
        return;
    }
    if (read == ControlRead::Nothing) {
        return;
    }
    std::string pending;
    for (const FtpReplyReader::Line& raw : lines) {
        const std::string line = session_->LogReply(raw);
        if (line.empty() || !raw.Last) {
            continue;  // a reply is acted upon at its last line
        }
        const std::string code = ReplyCode(line);
        if (code == "550" || code == "421") {
            LogKey(LogKind::Error, "Log_FileNotFound");
            rec_.state = S::Stop;
            return;
        }
        if (IsPreliminary(code)) {
            continue;
        }
        if (OnReplyLine(line, code, pending) == LineResult::Stop) {
            return;
        }
    }
    if (!bounded) {
        rec_.state = S::Stop;  // a reply without an end
        return;
    }
    SendPending(pending);
}

ExplorerClient::LineResult ExplorerClient::OnReplyLine(const std::string& line,
                                                       const std::string& code,
                                                       std::string& pending) {
    switch (rec_.state) {
        case S::Connected:
        case S::UserSent:
        case S::PassSent:
            return OnLoginReply(code, pending);
        case S::CwdSent:
            if (IsNegative(code)) {
                rec_.state = S::Stop;
                return LineResult::Stop;
            }
            pending = "PWD";
            rec_.state = S::PwdSent;
            return LineResult::Next;
        case S::PwdSent:
            pending = session_->TypeCommand("A");
            rec_.state = S::ListTypeSent;
            return LineResult::Next;
        case S::ListTypeSent:
            return OpenDataPath(pending);
        case S::PasvSent:
        case S::ListPortSent: {
            FtpDataTarget target;
            if (session_->OnDataPathReply(line, code, target) != FtpReply::DataReady) {
                rec_.state = S::Stop;
                return LineResult::Stop;
            }
            if (rec_.state == S::PasvSent) {
                Busy();  // every connect of the client
            }
            pending = "LIST -la";
            listDataDone_ = listReplyDone_ = false;
            rec_.state = S::Listing;
            return LineResult::Next;
        }
        case S::Listing:
            // LIST refused: no listing will come on the data connection.
            if (IsNegative(code)) {
                rec_.state = S::Stop;
                return LineResult::Stop;
            }
            if (!rec_.idle) {
                listReplyDone_ = true;
                DeliverWhenComplete();
            }
            return LineResult::Next;
        default:
            return LineResult::Next;
    }
}

ExplorerClient::LineResult ExplorerClient::OnLoginReply(const std::string& code,
                                                        std::string& pending) {
    switch (session_->OnLoginReply(code, pending)) {
        case FtpReply::Next:
            rec_.state = session_->Step() == FtpStep::UserSent ? S::UserSent : S::PassSent;
            return LineResult::Next;
        case FtpReply::LoggedIn:
            // After PASS, or after USER without a password.
            if (rec_.targetDirectory.empty()) {
                pending = "PWD";
                rec_.state = S::PwdSent;
            } else {
                pending = "CWD " + rec_.targetDirectory;
                rec_.listing.clear();
                rec_.state = S::CwdSent;
            }
            return LineResult::Next;
        case FtpReply::Refused:
            return OnLoginRefused(pending);
        case FtpReply::Failed:
            rec_.state = S::Stop;
            return LineResult::Stop;
        default:
            return LineResult::Next;
    }
}

// A refused login is asked again on the same connection, a few times only:
// a server that refuses for ever must not keep the window busy.
ExplorerClient::LineResult ExplorerClient::OnLoginRefused(std::string& pending) {
    LogKey(LogKind::Info, "Log_CanNotConnect", HostPortText(rec_.host, rec_.port));
    if (++loginRefusals_ > kMaxLoginRefusals) {
        rec_.state = S::Stop;
        return LineResult::Stop;
    }
    int wait;
    {
        std::lock_guard lock(ctx_.SpeedLock);
        wait = ctx_.settings.RetryWaitSec;
    }
    ThreadLog(LogKind::Info, ctx_.lang.GetLangText("Log_RetryWait1") + " " + IntToText(wait) + " " +
                                 ctx_.lang.GetLangText("Log_RetryWait2"));
    session_->RetryLogin(pending);
    rec_.state = S::UserSent;
    return LineResult::Next;
}

ExplorerClient::LineResult ExplorerClient::OpenDataPath(std::string& pending) {
    rec_.listing.clear();
    pending = session_->OpenDataPath();
    if (pending.empty()) {
        rec_.state = S::Stop;
        return LineResult::Stop;
    }
    rec_.state = rec_.proxy.PASV ? S::PasvSent : S::ListPortSent;
    return LineResult::Next;
}

void ExplorerClient::SendPending(const std::string& pending) {
    session_->SendPending(pending);
}

void ExplorerClient::ReadListing() {
    if (rec_.state != S::Listing) {
        return;
    }
    ReceiveBuffer buffer;
    int n;
    while ((n = Receive(rec_.connections, slotData, buffer)) > 0) {
        int64_t consumed = 0;
        const int step = NegotiateProxy(*this, rec_.connections[slotData], rec_.proxy,
                                        buffer.data(), n, consumed);
        if (step == proxyFailed) {
            rec_.state = S::Stop;
            return;
        }
        if (step == proxyReady && n > consumed) {
            rec_.listing.append(buffer.data() + consumed, static_cast<size_t>(n - consumed));
        }
        if (rec_.listing.size() > kMaxListingBytes) {
            rec_.listing.clear();
            CloseSocket(rec_.connections, slotData);
            rec_.state = S::Stop;
            return;
        }
    }
}

// The listing is complete when its data connection has closed and the
// server has confirmed the transfer, in either order; the next command must
// not take the confirmation for its own reply. An empty folder ends the
// operation as well, with no line.
void ExplorerClient::DeliverWhenComplete() {
    if (!listDataDone_ || !listReplyDone_) {
        return;
    }
    listDataDone_ = listReplyDone_ = false;
    std::vector<std::string> lines;
    SplitLines(AnsiToWide(rec_.listing), lines);
    rec_.listing.clear();
    for (const std::string& line : lines) {
        ThreadLog(LogKind::Listing, line);
    }
    failed_ = false;
    Idle();
}

void ExplorerClient::ChangeDirectory(const std::string& path) {
    // The folder comes as an address path: %XX stands for its byte. A CR, LF
    // or NUL would end the CWD line and carry a command of its own.
    std::string folder = PercentDecode(path);
    if (folder.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos) {
        LogKey(LogKind::Error, "Log_InvalidURL");
        rec_.targetDirectory.clear();
        rec_.state = S::Stop;
        FailureReport();
        return;
    }
    rec_.targetDirectory = folder;
    rec_.listing.clear();
    if (rec_.paused || IsLoggingIn(rec_.state)) {
        return;  // the login goes on to this folder
    }
    if (rec_.state != S::Listing || !rec_.idle) {
        // The connection is gone or busy with something else: start again.
        rec_.state = S::Disconnect;
        return;
    }
    session_->Send("CWD " + folder);
    Busy();
    rec_.state = S::CwdSent;
}

void ExplorerClient::FailureReport() {
    const std::string where = rec_.proxy.Type != proxyDirect
                                  ? HostPortText(rec_.proxy.Server, rec_.proxy.Port)
                                  : HostPortText(rec_.host, rec_.port);
    LogKey(LogKind::Info, "Log_CanNotConnect", where);
    CloseSockets(rec_.connections, kConnectionSlots);
    failed_ = true;
    Idle();
}

void ExplorerClient::Busy() {
    rec_.idle = false;
    rec_.waited = 0;
    if (rec_.window) {
        rec_.window->OnExplorerBusy();
    }
}

void ExplorerClient::Idle() {
    rec_.idle = true;
    if (rec_.window) {
        rec_.window->OnExplorerIdle();
    }
}

void ExplorerClient::LogKey(LogKind kind, const char* key, const std::string& values) {
    std::string text = ctx_.lang.GetLangText(key);
    if (!values.empty()) {
        text += " " + values;
    }
    ThreadLog(kind, text);
}

void ExplorerClient::ThreadLog(LogKind kind, const std::string& text) {
    if (text.empty() || text == "\r\n" || text == "\r\n\r\n" || !rec_.window) {
        return;
    }
    rec_.window->OnExplorerLog(kind, ReplaceCopy(ReplaceCopy(text, "\r", ""), "\n", ""));
}

}  // namespace vardane
