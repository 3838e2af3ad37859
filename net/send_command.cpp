#include "net/send_command.h"

#include <string>
#include <vector>

#include "net/proxy_text.h"
#include "platform/text.h"

namespace vardane {

void SendCommand(ConnectionSet& set, IConnectionOwner& owner, std::string_view command,
                 std::string_view secret) {
    if (owner.IsStopped() || set[slotControl].Socket == 0) {
        return;
    }
    std::vector<std::string> lines;
    SplitLines(command, lines);
    // One send for the whole request: a send per line made every line after
    // the first wait for the peer's delayed acknowledgement (Nagle), about
    // 40 ms per request, and over TLS cost a record each.
    std::string bytes;
    for (const std::string& line : lines) {
        bytes += WideToAnsi(line + "\r\n");
    }
    // A failed send shows up as a missing reply, which the owner's time-out
    // handles.
    SendOnSlot(set, slotControl, bytes.data(), bytes.size());
    for (const std::string& line : lines) {
        if (line.empty()) {
            continue;
        }
        std::string logged = secret.empty() ? line : ReplaceCopy(line, secret, "******");
        owner.ThreadLog(LogKind::Sent, MaskCredentials(logged));
    }
}

namespace {

class PassLineOwner : public IConnectionOwner {
  public:
    explicit PassLineOwner(IConnectionOwner& inner) : inner_(inner) {}
    bool IsStopped() override { return inner_.IsStopped(); }
    void ThreadLog(LogKind kind, const std::string& text) override {
        inner_.ThreadLog(kind, kind == LogKind::Sent ? std::string("PASS ******") : text);
    }

  private:
    IConnectionOwner& inner_;
};

}  // namespace

void SendPassCommand(ConnectionSet& set, IConnectionOwner& owner, std::string_view password) {
    PassLineOwner masked(owner);
    SendCommand(set, masked, "PASS " + std::string(password), password);
}

}  // namespace vardane
