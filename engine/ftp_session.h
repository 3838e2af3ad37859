// One FTP control connection as every FTP client of the program drives it:
// the connect (direct or through the proxy), reading replies, the login
// (USER, PASS), TYPE and the data path (PASV/EPSV or PORT/EPRT). A client
// (a download worker, the explorer's directory client) runs its own commands
// around these steps (REST, SIZE, RETR; CWD, PWD, LIST) and decides what a
// refusal means for it.
#pragma once

#include <string>
#include <vector>

#include "engine/ftp_data_path.h"
#include "engine/ftp_reply.h"
#include "net/connection_owner.h"
#include "net/event_socket.h"
#include "settings/proxy_record.h"

namespace vardane {

class LangTable;

// The reply the session waits for.
enum class FtpStep {
    Closed,       // no connection
    Connecting,   // the control connection (and the proxy's handshake)
    Greeting,     // "220"
    UserSent,     // reply to USER
    PassSent,     // reply to PASS
    LoggedIn,     // the client's own commands
    TypeSent,     // reply to TYPE
    PassiveSent,  // reply to PASV or EPSV
    PortSent,     // reply to PORT or EPRT
};

// What a final reply did to the session.
enum class FtpReply {
    Next,       // moved on; the command to answer with (if any) is pending
    LoggedIn,   // the login is done
    Refused,    // "530" to USER or PASS: the client retries (RetryLogin) or gives up
    Failed,     // the session cannot go on from this reply
    Wait,       // not this step's answer: wait for the next reply
    DataReady,  // the data connection is being opened (passive) or awaited (active)
};

// Where a session logs in.
struct FtpServer {
    std::string host;
    int port = 21;
    std::string user, password;
    ProxyRecord proxy;
};

enum class ControlRead {
    Nothing,  // nothing received, or the proxy handshake goes on
    Failed,   // the proxy handshake failed
    Lines,    // the completed lines (maybe none) were appended
};

class FtpSession {
  public:
    // set: the client's connections (control, data, listener); owner: its
    // stop flag and log.
    FtpSession(ConnectionSet& set, IConnectionOwner& owner, const LangTable& lang)
        : set_(set), owner_(owner), lang_(lang) {}

    const FtpServer& Server() const { return server_; }
    FtpStep Step() const { return step_; }
    // The client's own command moved the session (e.g. back to LoggedIn).
    void SetStep(FtpStep step) { step_ = step; }

    // Logs where it connects ("Log_Connecting host:port", or
    // "Log_ConnectingProxy" with the proxy) and connects the control slot.
    // The sockets are the client's to (re)create before.
    void Connect(const FtpServer& server);
    // A connect event without error on slot: the control connection logs
    // "host:port Log_Connected" (logConnected), then the proxy's handshake
    // goes on. Returns the proxy step (proxyReady, proxyFailed, or one that
    // waits for the proxy's reply).
    int OnConnected(int slot, bool logConnected);

    // One receive on the control slot: the bytes a proxy handshake still owns
    // are taken by it, the rest assembled into lines. bounded is false when
    // the reply in progress outgrew the reader's bound.
    ControlRead ReadReplies(std::vector<FtpReplyReader::Line>& lines, bool& bounded);
    // Logs a received line (kind received) as ANSI text turned wide; the
    // line as the client acts on it.
    std::string LogReply(const FtpReplyReader::Line& raw);

    // The final reply of a login step (Greeting, UserSent, PassSent).
    FtpReply OnLoginReply(const std::string& code, std::string& pending);
    // After a refusal: USER again on the same connection.
    void RetryLogin(std::string& pending);

    // "TYPE <type>" to send; the session waits for its reply.
    std::string TypeCommand(const std::string& type);

    // The command that opens the data path: PASV (EPSV over IPv6) when the
    // proxy record says passive, else PORT (EPRT) with a listener set up.
    // Empty when no listener could be set up.
    std::string OpenDataPath(int receiveBuffer = 0);
    // The final reply to PASV/EPSV (connects the data slot to the port it
    // names, target says where) or PORT/EPRT.
    FtpReply OnDataPathReply(const std::string& line, const std::string& code,
                             FtpDataTarget& target, int receiveBuffer = 0);
    // The server's data connection on the active-mode listener.
    bool AcceptData() { return AcceptServerData(set_, server_.proxy); }

    // Sends pending (if any); a PASS is logged with its password masked.
    void SendPending(const std::string& pending);
    void Send(const std::string& command);

  private:
    ConnectionSet& set_;
    IConnectionOwner& owner_;
    const LangTable& lang_;
    FtpServer server_;
    FtpStep step_ = FtpStep::Closed;
    FtpReplyReader reader_;
};

}  // namespace vardane
