#include "engine/ftp_session.h"

#include <string_view>

#include "lang/lang_table.h"
#include "net/proxy.h"
#include "net/send_command.h"
#include "platform/text.h"

namespace vardane {

void FtpSession::Connect(const FtpServer& server) {
    server_ = server;
    reader_.Reset();
    step_ = FtpStep::Connecting;
    const ProxyRecord& proxy = server_.proxy;
    if (proxy.Type == proxyDirect) {
        owner_.ThreadLog(LogKind::Info, lang_.GetLangText("Log_Connecting") + " " +
                                            HostPortText(server_.host, server_.port));
        ConnectSocket(set_, slotControl, server_.host, server_.port, server_.host, server_.port);
    } else {
        owner_.ThreadLog(LogKind::Info, lang_.GetLangText("Log_ConnectingProxy") + " " +
                                            HostPortText(proxy.Server, proxy.Port));
        ConnectSocket(set_, slotControl, proxy.Server, proxy.Port, server_.host, server_.port);
    }
}

int FtpSession::OnConnected(int slot, bool logConnected) {
    EventSocket& conn = set_[slot];
    if (logConnected) {
        step_ = FtpStep::Greeting;
        owner_.ThreadLog(LogKind::Info, HostPortText(conn.Host, conn.Port) + " " +
                                            lang_.GetLangText("Log_Connected"));
    }
    int64_t consumed = 0;
    return NegotiateProxy(owner_, conn, server_.proxy, nullptr, 0, consumed);
}

ControlRead FtpSession::ReadReplies(std::vector<FtpReplyReader::Line>& lines, bool& bounded) {
    ReceiveBuffer buffer;
    const int n = Receive(set_, slotControl, buffer);
    if (n < 0) {
        return ControlRead::Nothing;
    }
    int64_t consumed = 0;
    const int step =
        NegotiateProxy(owner_, set_[slotControl], server_.proxy, buffer.data(), n, consumed);
    if (step == proxyFailed) {
        return ControlRead::Failed;
    }
    if (step != proxyReady) {
        return ControlRead::Nothing;
    }
    bounded = reader_.Feed(
        std::string_view(buffer.data() + consumed, static_cast<size_t>(n - consumed)), lines);
    return ControlRead::Lines;
}

std::string FtpSession::LogReply(const FtpReplyReader::Line& raw) {
    std::string line = AnsiToWide(raw.text);
    if (!line.empty()) {
        owner_.ThreadLog(LogKind::Received, line);
    }
    return line;
}

// A server that greets with anything but "220" ("421 busy", junk) is not one
// to log in to; USER may be answered with "230" when no password is needed.
FtpReply FtpSession::OnLoginReply(const std::string& code, std::string& pending) {
    switch (step_) {
        case FtpStep::Greeting:
            if (code != "220") {
                return FtpReply::Failed;
            }
            pending = UserCommand(server_.user);
            step_ = FtpStep::UserSent;
            return FtpReply::Next;
        case FtpStep::UserSent:
        case FtpStep::PassSent:
            if (code == "331" && step_ == FtpStep::UserSent) {
                pending = "PASS " + server_.password;
                step_ = FtpStep::PassSent;
                return FtpReply::Next;
            }
            if (code == "230") {
                step_ = FtpStep::LoggedIn;
                return FtpReply::LoggedIn;
            }
            if (code == "530") {
                return FtpReply::Refused;
            }
            // Another refusal, or an account we do not have ("332").
            return IsNegative(code) || code == "332" ? FtpReply::Failed : FtpReply::Wait;
        default:
            return FtpReply::Wait;
    }
}

void FtpSession::RetryLogin(std::string& pending) {
    pending = UserCommand(server_.user);
    step_ = FtpStep::UserSent;
}

std::string FtpSession::TypeCommand(const std::string& type) {
    step_ = FtpStep::TypeSent;
    return "TYPE " + type;
}

std::string FtpSession::OpenDataPath(int receiveBuffer) {
    if (server_.proxy.PASV) {
        step_ = FtpStep::PassiveSent;
        return PassiveCommand(set_, server_.proxy);
    }
    step_ = FtpStep::PortSent;
    return OpenPortListener(set_, receiveBuffer);
}

// PASV and EPSV have one good answer each, PORT and EPRT a "2yz"; anything
// else leaves no data path.
FtpReply FtpSession::OnDataPathReply(const std::string& line, const std::string& code,
                                     FtpDataTarget& target, int receiveBuffer) {
    bool ready = false;
    if (step_ == FtpStep::PassiveSent) {
        ready = IsPassiveReply(code) &&
                ConnectPassiveData(set_, line, server_.host, server_.proxy, target, receiveBuffer);
    } else if (step_ == FtpStep::PortSent) {
        ready = code.size() == 3 && code[0] == '2';
    } else {
        return FtpReply::Wait;
    }
    step_ = FtpStep::LoggedIn;
    return ready ? FtpReply::DataReady : FtpReply::Failed;
}

void FtpSession::SendPending(const std::string& pending) {
    if (pending.empty()) {
        return;
    }
    if (step_ == FtpStep::PassSent && pending.starts_with("PASS ")) {
        SendPassCommand(set_, owner_, server_.password);
        return;
    }
    Send(pending);
}

void FtpSession::Send(const std::string& command) {
    SendCommand(set_, owner_, command, {});
}

}  // namespace vardane
