#include "tests/support/server_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

#include "tests/support/ports.h"
#include "tests/support/temp_dir.h"

namespace vardane::test {

namespace {

// Only async-signal-safe calls between fork and exec.
[[noreturn]] void RunChild(char* const* argv, int logFd) {
    ::setpgid(0, 0);
    // The server dies with the test process even when the test crashes.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    int devNull = ::open("/dev/null", O_RDONLY);
    if (devNull >= 0) {
        ::dup2(devNull, 0);
    }
    ::dup2(logFd, 1);
    ::dup2(logFd, 2);
    ::execv(argv[0], argv);
    ::_exit(127);
}

bool WaitExit(pid_t pid, std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        int status = 0;
        pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid || (done < 0 && errno == ECHILD)) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

}  // namespace

bool ServerProcess::Start(const std::vector<std::string>& argv, const std::string& logPath,
                          int port, std::chrono::milliseconds timeout) {
    Stop();
    logPath_ = logPath;
    command_.clear();
    for (const std::string& arg : argv) {
        command_ += arg + " ";
    }
    std::vector<char*> args;
    for (const std::string& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    int logFd = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (logFd < 0) {
        error_ = "cannot open " + logPath + ": " + std::strerror(errno);
        return false;
    }
    pid_ = ::fork();
    if (pid_ == 0) {
        RunChild(args.data(), logFd);
    }
    ::close(logFd);
    if (pid_ > 0) {
        ::setpgid(pid_, pid_);  // also here, so a Stop right away reaches the group
    }
    if (pid_ < 0) {
        pid_ = 0;
        error_ = std::string("fork failed: ") + std::strerror(errno);
        return false;
    }
    if (port == 0) {
        return true;
    }
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!WaitForPort(port, std::chrono::milliseconds(50))) {
        if (!Running()) {
            error_ = "the server exited before it listened on port " + std::to_string(port);
            return false;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            error_ = "the server did not listen on port " + std::to_string(port);
            Stop();
            return false;
        }
    }
    if (!Running()) {
        error_ = "the server exited although port " + std::to_string(port) + " answered";
        return false;
    }
    return true;
}

bool ServerProcess::Running() {
    if (pid_ == 0) {
        return false;
    }
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = 0;
        return false;
    }
    return true;
}

void ServerProcess::Stop() {
    if (pid_ == 0) {
        return;
    }
    ::kill(-pid_, SIGTERM);
    ::kill(pid_, SIGTERM);
    if (!WaitExit(pid_, std::chrono::seconds(3))) {
        ::kill(-pid_, SIGKILL);
        ::kill(pid_, SIGKILL);
        WaitExit(pid_, std::chrono::seconds(10));
    }
    // Children left in the group (workers) go too.
    ::kill(-pid_, SIGKILL);
    pid_ = 0;
}

std::string ServerProcess::Diagnostics() const {
    return error_ + "\ncommand: " + command_ + "\n--- " + logPath_ + " ---\n" + ReadFile(logPath_);
}

}  // namespace vardane::test
