// Commands of one vardane-cli process run by the process that owns the data
// root. The client sends its command line, working folder and terminal
// flags; the owner runs the command and sends back its output and finally
// its exit status. Frames (app/single_instance.h):
//   client -> owner: 'U' an address handed over (instead of a command), or
//                    'A' argument (repeated), 'W' working folder,
//                    'T' two flags "1"/"0" (input, output is a terminal),
//                    'E' end of request; later 'I' (Ctrl-C)
//   owner -> client: 'O' standard output, 'R' standard error, 'Q' a yes/no
//                    question the command stopped at, 'X' the exit status in
//                    decimal (last frame)
// The owner never waits for a person: a command that needs a yes/no answer
// declines, and its question goes back with the status. The client asks at
// its terminal and, on yes, sends the command again with --yes.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "app/command_io.h"
#include "app/single_instance.h"

namespace vardane {

struct ForwardRequest {
    // An address handed over by a second start of the program ('U'); an
    // empty one asks the owner to show its window.
    bool HandedOver = false;
    std::string HandedUrl;
    std::vector<std::string> Args;
    std::string WorkingDirectory;
    bool InputTty = false;
    bool OutputTty = false;
};

// Owner side: one connected client, read and written only when its socket
// is ready, so a client that sends slowly, too much or never reads costs the
// others nothing. It is also the output and question channel of its command.
class ForwardClient : public CliIo {
  public:
    using Clock = std::chrono::steady_clock;
    // The whole request (all frames up to 'E').
    static constexpr size_t kMaxRequest = 1024 * 1024;
    // What a client may send after its request (Ctrl-C frames).
    static constexpr size_t kMaxAfterRequest = 64 * 1024;
    // Time for the whole request from the connection on.
    static constexpr std::chrono::seconds kRequestTime{5};
    // Output a client has not taken for this long, or this much of it, drops
    // the client; its command goes on without an audience.
    static constexpr std::chrono::seconds kWriteStall{30};
    static constexpr size_t kMaxPending = 16 * 1024 * 1024;

    // fd: a non-blocking accepted socket, closed by this object.
    ForwardClient(int fd, Clock::time_point now);
    ~ForwardClient() override;
    ForwardClient(const ForwardClient&) = delete;
    ForwardClient& operator=(const ForwardClient&) = delete;

    // What reading brought.
    struct Input {
        bool requestComplete = false;  // 'E' arrived: Request() is ready
        int interrupts = 0;            // 'I' frames after the request
    };
    // Reads what arrived (call when the socket is readable). A client over
    // the cap or sending out of turn is refused and closed.
    Input Read();
    // Writes what the socket takes (call when it is writable).
    void Flush();
    // Refuses a request not complete in time; drops a client that has not
    // taken its output for kWriteStall.
    void CheckDeadlines(Clock::time_point now);
    // The command's end: its question (if it stopped at one) and status.
    void Finish(int status);

    const ForwardRequest& Request() const { return request_; }
    int Fd() const { return fd_; }
    bool WantsRead() const;
    bool WantsWrite() const { return fd_ >= 0 && !pending_.empty(); }
    // Closed, or finished with everything written: nothing left to do but
    // to let its command (if any) end.
    bool Done() const { return fd_ < 0 || (finished_ && pending_.empty()); }
    // The command of this client still runs (a job).
    bool busy = false;

    // CliIo
    void Out(std::string_view text) override { Queue('O', text); }
    void Err(std::string_view text) override { Queue('R', text); }
    bool InputIsTerminal() const override { return request_.InputTty && fd_ >= 0; }
    bool OutputIsTerminal() const override { return request_.OutputTty; }
    std::optional<bool> AskYesNo(const std::string& text) override;
    std::string WorkingDirectory() const override;

  private:
    void Queue(char type, std::string_view payload);
    // The refusal as far as the socket takes it without waiting, then close.
    void Refuse(const std::string& why);
    void Close();

    int fd_;
    FrameReader reader_{kMaxRequest};
    ForwardRequest request_;
    bool requested_ = false;
    bool finished_ = false;
    bool readClosed_ = false;
    std::string pending_;
    std::optional<std::string> question_;
    Clock::time_point requestDeadline_;
    Clock::time_point lastProgress_;
};

// Client side: what came of a forwarded command.
struct ForwardOutcome {
    // The owner's exit status; nullopt when it went away without one.
    std::optional<int> status;
    // The question the command stopped at, to be asked here.
    std::optional<std::string> question;
    // Ctrl-C or SIGTERM arrived while waiting.
    bool interrupted = false;
};

// Client side: sends args, prints what comes back and passes Ctrl-C on
// (signalFd, -1 for none). After a Ctrl-C the owner's status is awaited a
// few seconds at most; a second Ctrl-C ends the wait at once.
ForwardOutcome ForwardCommand(int fd, const std::vector<std::string>& args, CliIo& io,
                              int signalFd);

}  // namespace vardane
