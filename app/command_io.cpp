#include "app/command_io.h"

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>

#include <iostream>
#include <string>

#include "platform/file.h"

namespace vardane {

StdIo::StdIo() : inputTty_(isatty(0) == 1), outputTty_(isatty(1) == 1) {}

void StdIo::Out(std::string_view text) {
    std::cout << text;
    std::cout.flush();
}

void StdIo::Err(std::string_view text) {
    std::cerr << text;
    std::cerr.flush();
}

std::optional<bool> StdIo::AskYesNo(const std::string& text) {
    if (!inputTty_) {
        return std::nullopt;
    }
    std::cerr << text << " [y/N] ";
    std::cerr.flush();
    // Ctrl-C and SIGTERM are blocked and read from signalfds: they end the
    // wait for the answer as a no, and stay pending for the caller's loop.
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    int signalFd = signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
    pollfd fds[2] = {{0, POLLIN, 0}, {signalFd, POLLIN, 0}};
    while (poll(fds, signalFd >= 0 ? 2 : 1, -1) < 0 && errno == EINTR) {
    }
    if (signalFd >= 0) {
        close(signalFd);
    }
    if (!(fds[0].revents & (POLLIN | POLLHUP)) || (fds[1].revents & POLLIN)) {
        std::cerr << "\n";
        return false;
    }
    std::string answer;
    if (!std::getline(std::cin, answer)) {
        return false;
    }
    return !answer.empty() && (answer[0] == 'y' || answer[0] == 'Y');
}

std::string StdIo::WorkingDirectory() const {
    char buffer[4096];
    if (getcwd(buffer, sizeof(buffer)) == nullptr) {
        return "/";
    }
    return WithTrailingSlash(buffer);
}

std::string AbsolutePath(const CliIo& io, const std::string& path) {
    if (path.empty() || path[0] == '/') {
        return path;
    }
    return io.WorkingDirectory() + path;
}

}  // namespace vardane
