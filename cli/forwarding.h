// Commands of one vardane-cli process run by the process that owns the data
// root. The client sends its command line, working folder and terminal
// flags; the owner runs the command and sends back its output, its questions
// and finally its exit status. Frames (app/single_instance.h):
//   client -> owner: 'U' an address handed over (instead of a command), or
//                    'A' argument (repeated), 'W' working folder,
//                    'T' two flags "1"/"0" (input, output is a terminal),
//                    'E' end of request; later 'I' (Ctrl-C), 'Y'/'N' answers
//   owner -> client: 'O' standard output, 'R' standard error, 'Q' a yes/no
//                    question, 'X' the exit status in decimal (last frame)
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "cli/cli_io.h"

namespace vardane {

class CliRuntime;

struct ForwardRequest {
    // An address handed over by a second start of the program ('U').
    std::string HandedUrl;
    std::vector<std::string> Args;
    std::string WorkingDirectory;
    bool InputTty = false;
    bool OutputTty = false;
};

// Owner side: reads a request; false when the client sent something else.
bool ReadForwardRequest(int fd, ForwardRequest& request);

// Owner side: the output and questions of a forwarded command.
class SocketIo : public CliIo {
  public:
    SocketIo(CliRuntime& runtime, int fd, const ForwardRequest& request);
    void Out(std::string_view text) override;
    void Err(std::string_view text) override;
    bool InputIsTerminal() const override { return inputTty_ && !lost_; }
    bool OutputIsTerminal() const override { return outputTty_; }
    std::optional<bool> AskYesNo(const std::string& text) override;
    std::string WorkingDirectory() const override { return cwd_; }
    // The client went away: output is dropped from now on.
    void MarkLost() { lost_ = true; }
    bool Lost() const { return lost_; }
    int Fd() const { return fd_; }

  private:
    CliRuntime& runtime_;
    int fd_;
    bool inputTty_;
    bool outputTty_;
    std::string cwd_;
    bool lost_ = false;
};

// Client side: sends args, prints what comes back, answers questions from
// the terminal and passes Ctrl-C on (signalFd, -1 for none). The exit
// status, or nullopt when the owner went away without one.
std::optional<int> ForwardCommand(int fd, const std::vector<std::string>& args, CliIo& io,
                                  int signalFd);

}  // namespace vardane
