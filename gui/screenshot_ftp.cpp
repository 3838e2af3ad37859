#include "gui/screenshot_ftp.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vardane::gui {

namespace {

constexpr int kPollMillis = 100;
// A session that says nothing for this long is given up.
constexpr int kIdlePolls = 100;

int Listener(int& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(addr);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 ||
        ::listen(fd, 4) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length) != 0) {
        if (fd >= 0) {
            ::close(fd);
        }
        return -1;
    }
    port = ntohs(addr.sin_port);
    return fd;
}

bool Readable(int fd) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, kPollMillis) > 0;
}

void Send(int fd, const std::string& text) {
    size_t sent = 0;
    while (sent < text.size()) {
        const ssize_t n = ::send(fd, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) {
            return;
        }
        sent += static_cast<size_t>(n);
    }
}

}  // namespace

ScreenshotFtp::ScreenshotFtp(std::string listing) : listing_(std::move(listing)) {
    listen_ = Listener(port_);
    if (listen_ >= 0) {
        thread_ = std::thread([this] { Serve(); });
    }
}

ScreenshotFtp::~ScreenshotFtp() {
    stop_ = true;
    if (thread_.joinable()) {
        thread_.join();
    }
    if (listen_ >= 0) {
        ::close(listen_);
    }
}

void ScreenshotFtp::Serve() {
    while (!stop_) {
        if (!Readable(listen_)) {
            continue;
        }
        const int control = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
        if (control >= 0) {
            Session(control);
            ::close(control);
        }
    }
}

void ScreenshotFtp::Session(int control) {
    Send(control, "220 ready\r\n");
    int passive = -1;
    std::string buffer;
    for (int idle = 0; !stop_ && idle < kIdlePolls;) {
        if (!Readable(control)) {
            ++idle;
            continue;
        }
        idle = 0;
        char chunk[512];
        const ssize_t n = ::recv(control, chunk, sizeof(chunk), 0);
        if (n <= 0) {
            break;
        }
        buffer.append(chunk, static_cast<size_t>(n));
        for (size_t end; (end = buffer.find("\r\n")) != std::string::npos;) {
            const std::string command = buffer.substr(0, 4);
            buffer.erase(0, end + 2);
            int port = 0;
            if (command == "USER") {
                Send(control, "331 password please\r\n");
            } else if (command == "PASS") {
                Send(control, "230 logged in\r\n");
            } else if (command == "CWD ") {
                Send(control, "250 ok\r\n");
            } else if (command == "PWD") {
                Send(control, "257 \"/\"\r\n");
            } else if (command == "PASV" && passive < 0 && (passive = Listener(port)) >= 0) {
                Send(control, "227 Entering Passive Mode (127,0,0,1," + std::to_string(port / 256) +
                                  "," + std::to_string(port % 256) + ")\r\n");
            } else if (command == "LIST") {
                Send(control, "150 listing\r\n");
                Send(control, SendListing(passive) ? "226 done\r\n" : "425 no data\r\n");
            } else if (command == "QUIT") {
                Send(control, "221 bye\r\n");
                return;
            } else {
                Send(control, "200 ok\r\n");
            }
        }
    }
    if (passive >= 0) {
        ::close(passive);
    }
}

bool ScreenshotFtp::SendListing(int& passive) {
    bool sent = false;
    bool ready = false;
    for (int tries = 0; passive >= 0 && !ready && tries < 20; ++tries) {
        ready = Readable(passive);
    }
    if (ready) {
        const int data = ::accept4(passive, nullptr, nullptr, SOCK_CLOEXEC);
        if (data >= 0) {
            Send(data, listing_);
            ::close(data);
            sent = true;
        }
    }
    if (passive >= 0) {
        ::close(passive);
    }
    passive = -1;
    return sent;
}

}  // namespace vardane::gui
