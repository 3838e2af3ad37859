// vardane-cli run as a child process on a test's data root: at once (wait
// for its exit) or in the background (interrupt it, then wait).
#pragma once

#include <sys/types.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

namespace vardane::test {

struct CliResult {
    int status = -1;  // exit status, -1 when killed by a signal
    std::string out;
    std::string err;
};

class CliProcess {
  public:
    // Starts vardane-cli --home home args... (no --home when home is empty),
    // stdin from /dev/null, or the text input when one is given; as the user
    // uid when it is not 0 (needs root).
    CliProcess(const std::string& home, const std::vector<std::string>& args,
               const std::optional<std::string>& input = std::nullopt, uid_t uid = 0);
    ~CliProcess();
    CliProcess(const CliProcess&) = delete;
    CliProcess& operator=(const CliProcess&) = delete;

    // Ctrl-C.
    void Interrupt();
    // Waits for the exit and collects the output.
    CliResult Wait();
    // The same, giving up after timeoutMs (nullopt: still running; the
    // destructor kills it).
    std::optional<CliResult> WaitFor(int timeoutMs);

  private:
    // The exit status of the ended child and its output.
    void Collect(int status);

    TempDir outDir_{"vardane-cli-run"};
    pid_t pid_ = -1;
    CliResult result_;
};

// Runs vardane-cli to its end (standard input: input, else /dev/null).
CliResult RunCli(const std::string& home, const std::vector<std::string>& args,
                 const std::optional<std::string>& input = std::nullopt);

// The ids `vardane-cli list view` prints for the data root home.
std::vector<std::string> ListedIds(const std::string& home, const std::string& view);

// Lines of text without their line ends.
std::vector<std::string> Lines(const std::string& text);
// The tab-separated fields of a line.
std::vector<std::string> Fields(const std::string& line);

// Polls pred every 20 ms up to timeoutMs; its last value.
bool WaitUntil(const std::function<bool()>& pred, int timeoutMs = 60000);

}  // namespace vardane::test
