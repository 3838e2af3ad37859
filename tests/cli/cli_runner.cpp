#include "tests/cli/cli_runner.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <sstream>
#include <thread>

namespace vardane::test {

CliProcess::CliProcess(const std::string& home, const std::vector<std::string>& args,
                       const std::optional<std::string>& input, uid_t uid) {
    std::vector<std::string> argv = {std::string(VARDANE_BINARY_DIR) + "/bin/vardane-cli"};
    if (!home.empty()) {
        argv.insert(argv.end(), {"--home", home});
    }
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> raw;
    for (std::string& arg : argv) {
        raw.push_back(arg.data());
    }
    raw.push_back(nullptr);
    const std::string outPath = outDir_ / "out";
    const std::string errPath = outDir_ / "err";
    const std::string inPath = input ? std::string(outDir_ / "in") : std::string("/dev/null");
    if (input) {
        WriteFile(inPath, *input);
    }
    pid_ = fork();
    if (pid_ == 0) {
        int in = open(inPath.c_str(), O_RDONLY);
        int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        if (uid != 0 && (setgid(uid) != 0 || setuid(uid) != 0)) {
            _exit(126);
        }
        execv(raw[0], raw.data());
        _exit(127);
    }
}

CliProcess::~CliProcess() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        Wait();
    }
}

void CliProcess::Interrupt() {
    if (pid_ > 0) {
        kill(pid_, SIGINT);
    }
}

CliResult CliProcess::Wait() {
    if (pid_ > 0) {
        int status = 0;
        while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        Collect(status);
    }
    return result_;
}

void CliProcess::Collect(int status) {
    pid_ = -1;
    result_.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result_.out = ReadFile(outDir_ / "out");
    result_.err = ReadFile(outDir_ / "err");
}

std::optional<CliResult> CliProcess::WaitFor(int timeoutMs) {
    bool ended = WaitUntil(
        [this] {
            int status = 0;
            if (pid_ <= 0) {
                return true;
            }
            if (waitpid(pid_, &status, WNOHANG) != pid_) {
                return false;
            }
            Collect(status);
            return true;
        },
        timeoutMs);
    return ended ? std::optional<CliResult>(result_) : std::nullopt;
}

CliResult RunCli(const std::string& home, const std::vector<std::string>& args,
                 const std::optional<std::string>& input) {
    CliProcess process(home, args, input);
    return process.Wait();
}

std::vector<std::string> ListedIds(const std::string& home, const std::string& view) {
    std::vector<std::string> ids;
    for (const std::string& line : Lines(RunCli(home, {"list", view}).out)) {
        ids.push_back(Fields(line)[0]);
    }
    return ids;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

std::vector<std::string> Fields(const std::string& line) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (;;) {
        size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab == std::string::npos ? tab : tab - start));
        if (tab == std::string::npos) {
            return fields;
        }
        start = tab + 1;
    }
}

bool WaitUntil(const std::function<bool()>& pred, int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!pred()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return pred();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

}  // namespace vardane::test
