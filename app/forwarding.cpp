#include "app/forwarding.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include "platform/text.h"

namespace vardane {

ForwardClient::ForwardClient(int fd, Clock::time_point now)
    : fd_(fd), requestDeadline_(now + kRequestTime), lastProgress_(now) {}

ForwardClient::~ForwardClient() {
    Close();
}

void ForwardClient::Close() {
    if (fd_ >= 0) {
        close(fd_);
        fd_ = -1;
    }
    pending_.clear();
}

bool ForwardClient::WantsRead() const {
    return fd_ >= 0 && !finished_ && !readClosed_;
}

ForwardClient::Input ForwardClient::Read() {
    Input input;
    if (fd_ < 0) {
        return input;
    }
    const FrameReader::Status status = reader_.ReadFrom(fd_);
    if (status == FrameReader::Status::TooLarge) {
        Refuse(requested_ ? "vardane: too much data after the request; closed\n"
                          : "vardane: request refused: larger than 1 MiB\n");
        return input;
    }
    char type = 0;
    std::string payload;
    while (fd_ >= 0 && reader_.Next(type, payload)) {
        if (requested_) {
            // After the request only Ctrl-C means anything.
            input.interrupts += type == 'I' ? 1 : 0;
            continue;
        }
        switch (type) {
            case 'U':
                request_.HandedOver = true;
                request_.HandedUrl = payload;
                break;
            case 'A':
                request_.Args.push_back(payload);
                break;
            case 'W':
                request_.WorkingDirectory = payload;
                break;
            case 'T':
                request_.InputTty = !payload.empty() && payload[0] == '1';
                request_.OutputTty = payload.size() > 1 && payload[1] == '1';
                break;
            case 'E':
                requested_ = true;
                input.requestComplete = true;
                reader_.Allow(kMaxAfterRequest);
                break;
            default:
                Refuse("vardane: request refused: not a vardane-cli request\n");
                return input;
        }
    }
    if (status == FrameReader::Status::Closed && fd_ >= 0) {
        // Before its request is complete a client that left has nothing to
        // run. After it, output is still written until the socket refuses
        // it; the command goes on without an audience.
        if (!requested_) {
            Close();
        }
        readClosed_ = true;
    }
    return input;
}

void ForwardClient::Queue(char type, std::string_view payload) {
    if (fd_ < 0 || finished_) {
        return;
    }
    if (pending_.empty()) {
        lastProgress_ = Clock::now();
    }
    pending_ += EncodeFrame(type, payload.substr(0, kMaxFrame));
    Flush();
    if (pending_.size() > kMaxPending) {
        Close();
    }
}

void ForwardClient::Flush() {
    if (fd_ < 0) {
        return;
    }
    const size_t before = pending_.size();
    if (!WriteSome(fd_, pending_)) {
        Close();
        return;
    }
    if (pending_.size() != before) {
        lastProgress_ = Clock::now();
    }
    if (finished_ && pending_.empty()) {
        Close();
    }
}

void ForwardClient::CheckDeadlines(Clock::time_point now) {
    if (fd_ < 0) {
        return;
    }
    if (!requested_ && now >= requestDeadline_) {
        Refuse("vardane: request refused: not complete within " + IntToText(kRequestTime.count()) +
               " s\n");
    } else if (!pending_.empty() && now - lastProgress_ >= kWriteStall) {
        Close();
    }
}

void ForwardClient::Refuse(const std::string& why) {
    pending_ = EncodeFrame('R', why) + EncodeFrame('X', IntToText(1));
    WriteSome(fd_, pending_);
    finished_ = true;
    Close();
}

void ForwardClient::Finish(int status) {
    if (question_) {
        Queue('Q', *question_);
    }
    Queue('X', IntToText(status));
    finished_ = true;
    if (pending_.empty()) {
        Close();
    }
}

// Nobody waits for the answer here: the command declines, and the client
// asks its terminal once the status is back.
std::optional<bool> ForwardClient::AskYesNo(const std::string& text) {
    if (!InputIsTerminal()) {
        return std::nullopt;
    }
    if (!question_) {
        question_ = text;
    }
    return false;
}

std::string ForwardClient::WorkingDirectory() const {
    return request_.WorkingDirectory.empty() ? "/" : request_.WorkingDirectory;
}

namespace {

std::string EncodeRequest(const std::vector<std::string>& args, const CliIo& io) {
    std::string out;
    for (const std::string& arg : args) {
        out += EncodeFrame('A', arg);
    }
    const std::string flags =
        std::string(io.InputIsTerminal() ? "1" : "0") + (io.OutputIsTerminal() ? "1" : "0");
    return out + EncodeFrame('W', io.WorkingDirectory()) + EncodeFrame('T', flags) +
           EncodeFrame('E', "");
}

// How long an interrupted client waits for the owner to stop its tasks.
constexpr auto kInterruptGrace = std::chrono::seconds(10);

}  // namespace

ForwardOutcome ForwardCommand(int fd, const std::vector<std::string>& args, CliIo& io,
                              int signalFd) {
    using Clock = std::chrono::steady_clock;
    ForwardOutcome outcome;
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    std::string pending = EncodeRequest(args, io);
    FrameReader reader(SIZE_MAX);
    Clock::time_point giveUp = Clock::time_point::max();
    for (;;) {
        if (outcome.interrupted && Clock::now() >= giveUp) {
            return outcome;
        }
        pollfd fds[2] = {{fd, static_cast<short>(POLLIN | (pending.empty() ? 0 : POLLOUT)), 0},
                         {signalFd, POLLIN, 0}};
        if (poll(fds, signalFd >= 0 ? 2 : 1, outcome.interrupted ? 200 : -1) < 0) {
            continue;
        }
        if (signalFd >= 0 && (fds[1].revents & POLLIN)) {
            signalfd_siginfo info;
            while (read(signalFd, &info, sizeof(info)) > 0) {
            }
            if (outcome.interrupted) {
                return outcome;  // a second Ctrl-C: no more waiting
            }
            outcome.interrupted = true;
            giveUp = Clock::now() + kInterruptGrace;
            pending += EncodeFrame('I', "");
        }
        if ((fds[0].revents & POLLOUT) && !WriteSome(fd, pending)) {
            return outcome;
        }
        if (!(fds[0].revents & (POLLIN | POLLHUP | POLLERR))) {
            continue;
        }
        const FrameReader::Status status = reader.ReadFrom(fd);
        char type = 0;
        std::string payload;
        while (reader.Next(type, payload)) {
            switch (type) {
                case 'O':
                    io.Out(payload);
                    break;
                case 'R':
                    io.Err(payload);
                    break;
                case 'Q':
                    outcome.question = payload;
                    break;
                case 'X':
                    outcome.status = static_cast<int>(TextToInt(payload));
                    return outcome;
                default:
                    break;
            }
        }
        if (status != FrameReader::Status::Open) {
            return outcome;
        }
    }
}

}  // namespace vardane
