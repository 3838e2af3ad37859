// Runs a server binary as a child of the test, in its own process group, with
// its output captured to a log file; kills (SIGTERM, then SIGKILL) and reaps
// it when the object goes away.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace vardane::test {

class ServerProcess {
  public:
    ServerProcess() = default;
    ~ServerProcess() { Stop(); }
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    // Starts argv[0] (a full path) with argv, stdin from /dev/null and stdout
    // and stderr appended to logPath. Then waits until 127.0.0.1:port accepts
    // a connection (no wait when port is 0). False when the start fails, the
    // child exits early or the port stays closed; Diagnostics() tells why.
    bool Start(const std::vector<std::string>& argv, const std::string& logPath, int port,
               std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // Terminates the process group and reaps the child. Idempotent.
    void Stop();
    bool Running();

    // What went wrong and the captured output.
    std::string Diagnostics() const;

  private:
    pid_t pid_ = 0;
    std::string logPath_;
    std::string error_;
    std::string command_;
};

}  // namespace vardane::test
