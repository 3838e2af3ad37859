// A small scripted FTP server for the engine tests: one port for control and
// passive data connections, active mode, and options for the replies real
// servers rarely give (refused logins, refused listings, no SIZE, silence).
#pragma once

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "platform/text.h"
#include "tests/support/scripted_server.h"

namespace vardane::test {

struct ScriptOptions {
    std::string greeting = "220 ready\r\n";
    std::string restProbeReply = "350 Restarting at 100\r\n";  // to "REST 100"
    bool restSupported = true;                                 // other REST commands
    std::string sizeReply;                                     // "" gives "213 <size>"
    std::string pasvHost = "127,0,0,1";
    // Active mode: before the server, a stranger from 127.0.0.2 connects to
    // the client's PORT address and sends junk.
    bool intruder = false;
    // USER commands refused with 530 before one is accepted.
    int refuseUser = 0;
    // PASS commands refused with 530 before one is accepted.
    int refusePass = 0;
    // Not empty: what the first USER, and the second PASV (the file's), get.
    std::string firstUserReply, secondPasvReply;
    std::string listReply;         // not empty: the reply to LIST, no listing sent
    bool silentAfterPasv = false;  // PASV is never answered
    int64_t cutFirstRetr = -1;     // >= 0: the first RETR sends this many bytes
    std::string listing;           // not empty: what LIST sends instead of the file's line
    std::string cwdReply = "250 Directory changed\r\n";
};

// A blocking connection from source (port of the system's choice) to
// 127.0.0.1:port, or -1.
inline int ConnectFrom(const char* source, int port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in local{}, target{};
    local.sin_family = target.sin_family = AF_INET;
    inet_pton(AF_INET, source, &local.sin_addr);
    inet_pton(AF_INET, "127.0.0.1", &target.sin_addr);
    target.sin_port = htons(static_cast<uint16_t>(port));
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
        ::connect(fd, reinterpret_cast<sockaddr*>(&target), sizeof target) != 0) {
        if (fd >= 0) {
            ::close(fd);
        }
        return -1;
    }
    return fd;
}

// True when the peer closes fd (or resets it) within ten seconds.
inline bool PeerCloses(int fd) {
    pollfd p{fd, POLLIN, 0};
    char byte;
    return ::poll(&p, 1, 10000) == 1 && ::recv(fd, &byte, 1, 0) <= 0;
}

// A small FTP server on one port: control connections and the passive data
// connections they announce both arrive there. Every control command is
// recorded in order. Data goes to the data connections in the order they
// arrive, so ranged downloads over several logins at once need active mode.
class ScriptedFtp {
  public:
    ScriptedFtp(std::string file, ScriptOptions options)
        : file_(std::move(file)),
          options_(std::move(options)),
          server_([this](ScriptedConnection& c) { Serve(c); }) {}
    ~ScriptedFtp() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        changed_.notify_all();
        server_.Stop();
    }

    std::string Url(const std::string& userInfo = "") const {
        return "ftp://" + userInfo + "127.0.0.1:" + std::to_string(server_.Port()) + "/file.bin";
    }
    std::vector<std::string> Commands() {
        std::lock_guard lock(mutex_);
        return commands_;
    }
    int IntrudersTurnedAway() const { return intrudersTurnedAway_; }

  private:
    void Serve(ScriptedConnection& c) {
        bool data = false;
        {
            std::lock_guard lock(mutex_);
            if (dataExpected_ > 0) {
                --dataExpected_;
                data = true;
            }
        }
        if (data) {
            ServeData(c);
        } else {
            ServeControl(c);
        }
    }

    // Waits for what the control connection wants sent, sends it and closes.
    void ServeData(ScriptedConnection& c) {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, std::chrono::seconds(10),
                          [this] { return !payloads_.empty() || stopping_; });
        if (payloads_.empty()) {
            return;
        }
        std::string payload = std::move(payloads_.front());
        payloads_.pop_front();
        lock.unlock();
        if (payload != kNoData) {
            c.Write(payload);
        }
        c.Close();
        lock.lock();
        ++dataDone_;
        changed_.notify_all();
    }

    // Active mode: connects to the client's PORT address and sends payload.
    void SendActive(const std::string& payload) {
        const int port = static_cast<int>(std::exchange(activePort_, 0));
        if (options_.intruder) {
            int stranger = ConnectFrom("127.0.0.2", port);
            if (stranger >= 0) {
                (void)!::send(stranger, "JUNK", 4, MSG_NOSIGNAL);
                intrudersTurnedAway_ += PeerCloses(stranger) ? 1 : 0;
                ::close(stranger);
            }
        }
        int fd = ConnectFrom("127.0.0.1", port);
        if (fd >= 0) {
            (void)!::send(fd, payload.data(), payload.size(), MSG_NOSIGNAL);
            ::close(fd);
        }
    }

    // Hands a payload to the data connection and waits until it was sent.
    void SendOnData(const std::string& payload) {
        std::unique_lock lock(mutex_);
        int target = dataDone_ + 1;
        payloads_.push_back(payload);
        changed_.notify_all();
        changed_.wait_for(lock, std::chrono::seconds(10),
                          [&] { return dataDone_ >= target || stopping_; });
    }

    void ServeControl(ScriptedConnection& c) {
        c.Write(options_.greeting);
        int64_t offset = 0;
        while (auto line = c.ReadLine()) {
            {
                std::lock_guard lock(mutex_);
                commands_.push_back(*line);
            }
            std::string reply = Answer(*line, offset, c);
            if (reply.empty()) {
                return;
            }
            c.Write(reply);
        }
    }

    // The reply to one command ("" ends the connection).
    std::string Answer(const std::string& line, int64_t& offset, ScriptedConnection& c) {
        const std::string verb = line.substr(0, line.find(' '));
        if (verb == "USER" && users_++ == 0 && !options_.firstUserReply.empty()) {
            return options_.firstUserReply;
        }
        if (verb == "PASV" && pasvs_++ == 1 && !options_.secondPasvReply.empty()) {
            return options_.secondPasvReply;
        }
        if (verb == "USER") {
            if (refusedUsers_ < options_.refuseUser) {
                ++refusedUsers_;
                return "530 Not now\r\n";
            }
            return "331 Password please\r\n";
        }
        if (verb == "PASS") {
            if (refusedPasses_ < options_.refusePass) {
                ++refusedPasses_;
                return "530 Login incorrect\r\n";
            }
            return "230 Logged in\r\n";
        }
        if (verb == "TYPE") {
            return "200 Type set\r\n";
        }
        if (verb == "REST") {
            if (line == "REST 100") {
                return options_.restProbeReply;
            }
            if (!options_.restSupported) {
                return "502 Command not implemented\r\n";
            }
            offset = TextToInt(line.substr(5));
            return "350 Restarting\r\n";
        }
        if (verb == "SIZE") {
            return options_.sizeReply.empty() ? "213 " + IntToText(file_.size()) + "\r\n"
                                              : options_.sizeReply;
        }
        if (verb == "PASV") {
            if (options_.silentAfterPasv) {
                c.WaitForClose();
                return "";
            }
            {
                std::lock_guard lock(mutex_);
                ++dataExpected_;
            }
            const int port = server_.Port();
            return "227 Entering Passive Mode (" + options_.pasvHost + "," +
                   std::to_string(port / 256) + "," + std::to_string(port % 256) + ").\r\n";
        }
        if (verb == "PORT") {
            std::vector<std::string> numbers;
            std::istringstream text(line.substr(5));
            for (std::string n; std::getline(text, n, ',');) {
                numbers.push_back(n);
            }
            activePort_ =
                numbers.size() == 6 ? TextToInt(numbers[4]) * 256 + TextToInt(numbers[5]) : 0;
            return "200 PORT command successful\r\n";
        }
        if (verb == "LIST" && !options_.listReply.empty()) {
            // The data connection the client opened for it gets nothing.
            std::lock_guard lock(mutex_);
            if (activePort_ == 0) {
                payloads_.push_back(kNoData);
                changed_.notify_all();
            }
            activePort_ = 0;
            return options_.listReply;
        }
        if (verb == "CWD") {
            return options_.cwdReply;
        }
        if (verb == "PWD") {
            return "257 \"/\" is the current directory\r\n";
        }
        if (verb == "LIST" || verb == "RETR") {
            c.Write("150 Here it comes\r\n");
            std::string payload = verb == "LIST" && !options_.listing.empty() ? options_.listing
                                  : verb == "LIST"
                                      ? "-rw-r--r-- 1 ftp ftp " + IntToText(file_.size()) +
                                            " Jan 01 00:00 file.bin\r\n"
                                      : file_.substr(static_cast<size_t>(offset));
            if (verb == "RETR" && options_.cutFirstRetr >= 0 && !cutDone_) {
                cutDone_ = true;
                payload.resize(
                    std::min(payload.size(), static_cast<size_t>(options_.cutFirstRetr)));
            }
            if (activePort_ > 0) {
                SendActive(payload);
            } else {
                SendOnData(payload);
            }
            return "226 Done\r\n";
        }
        if (verb == "QUIT") {
            c.Write("221 Bye\r\n");
            return "";
        }
        return "502 Command not implemented\r\n";
    }

    static constexpr const char* kNoData = "\x01no data\x01";
    std::string file_;
    ScriptOptions options_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> commands_;
    std::deque<std::string> payloads_;
    int dataExpected_ = 0;
    int64_t activePort_ = 0;
    int refusedUsers_ = 0;
    int users_ = 0, pasvs_ = 0;
    int refusedPasses_ = 0;
    bool cutDone_ = false;
    std::atomic<int> intrudersTurnedAway_{0};
    int dataDone_ = 0;
    bool stopping_ = false;
    ScriptedServer server_;  // last: its handlers use everything above
};

}  // namespace vardane::test
