#include "cli/forwarding.h"

#include <poll.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include "app/single_instance.h"
#include "cli/cli_runtime.h"
#include "platform/text.h"

namespace vardane {

bool ReadForwardRequest(int fd, ForwardRequest& request) {
    char type = 0;
    std::string payload;
    while (ReadFrame(fd, type, payload)) {
        switch (type) {
            case 'U':
                request.HandedUrl = payload;
                break;
            case 'A':
                request.Args.push_back(payload);
                break;
            case 'W':
                request.WorkingDirectory = payload;
                break;
            case 'T':
                request.InputTty = payload.size() > 0 && payload[0] == '1';
                request.OutputTty = payload.size() > 1 && payload[1] == '1';
                break;
            case 'E':
                return true;
            default:
                return false;
        }
    }
    return false;
}

SocketIo::SocketIo(CliRuntime& runtime, int fd, const ForwardRequest& request)
    : runtime_(runtime),
      fd_(fd),
      inputTty_(request.InputTty),
      outputTty_(request.OutputTty),
      cwd_(request.WorkingDirectory.empty() ? "/" : request.WorkingDirectory) {}

void SocketIo::Out(std::string_view text) {
    if (!lost_ && !SendFrame(fd_, 'O', text)) {
        lost_ = true;
    }
}

void SocketIo::Err(std::string_view text) {
    if (!lost_ && !SendFrame(fd_, 'R', text)) {
        lost_ = true;
    }
}

// The owner keeps serving its tasks while the person at the other terminal
// makes up their mind.
std::optional<bool> SocketIo::AskYesNo(const std::string& text) {
    if (!InputIsTerminal()) {
        return std::nullopt;
    }
    if (!SendFrame(fd_, 'Q', text)) {
        lost_ = true;
        return false;
    }
    for (;;) {
        if (!runtime_.WaitReadable(fd_)) {
            return false;
        }
        char type = 0;
        std::string payload;
        if (!ReadFrame(fd_, type, payload)) {
            lost_ = true;
            return false;
        }
        if (type == 'Y' || type == 'N') {
            return type == 'Y';
        }
        if (type == 'I') {
            return false;
        }
    }
}

namespace {

bool SendRequest(int fd, const std::vector<std::string>& args, const CliIo& io) {
    bool ok = true;
    for (const std::string& arg : args) {
        ok = ok && SendFrame(fd, 'A', arg);
    }
    std::string flags =
        std::string(io.InputIsTerminal() ? "1" : "0") + (io.OutputIsTerminal() ? "1" : "0");
    return ok && SendFrame(fd, 'W', io.WorkingDirectory()) && SendFrame(fd, 'T', flags) &&
           SendFrame(fd, 'E', "");
}

}  // namespace

std::optional<int> ForwardCommand(int fd, const std::vector<std::string>& args, CliIo& io,
                                  int signalFd) {
    if (!SendRequest(fd, args, io)) {
        return std::nullopt;
    }
    for (;;) {
        pollfd fds[2] = {{fd, POLLIN, 0}, {signalFd, POLLIN, 0}};
        int count = signalFd >= 0 ? 2 : 1;
        if (poll(fds, count, -1) < 0) {
            continue;
        }
        if (count == 2 && (fds[1].revents & POLLIN)) {
            signalfd_siginfo info;
            if (read(signalFd, &info, sizeof(info)) > 0) {
                SendFrame(fd, 'I', "");
            }
        }
        if (!(fds[0].revents & (POLLIN | POLLHUP | POLLERR))) {
            continue;
        }
        char type = 0;
        std::string payload;
        if (!ReadFrame(fd, type, payload)) {
            return std::nullopt;
        }
        switch (type) {
            case 'O':
                io.Out(payload);
                break;
            case 'R':
                io.Err(payload);
                break;
            case 'Q': {
                std::optional<bool> answer = io.AskYesNo(payload);
                SendFrame(fd, answer && *answer ? 'Y' : 'N', "");
                break;
            }
            case 'X':
                return static_cast<int>(TextToInt(payload));
            default:
                break;
        }
    }
}

}  // namespace vardane
