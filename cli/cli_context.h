// What every vardane-cli command shares: the global options and the program
// context on the chosen data root.
#pragma once

#include <memory>
#include <optional>
#include <string>

namespace CLI {
class App;
}

namespace vardane {

struct CAppContext;

// Exit statuses of vardane-cli.
inline constexpr int kExitOk = 0;
inline constexpr int kExitNotFound = 1;  // the asked-for item does not exist
inline constexpr int kExitUsage = 2;     // bad command line

class CliContext {
  public:
    explicit CliContext(const char* argv0);
    ~CliContext();
    CliContext(const CliContext&) = delete;
    CliContext& operator=(const CliContext&) = delete;

    // Adds the options every command takes (--home DIR).
    void AddGlobalOptions(CLI::App& app);

    // The program context on the data root, after the settings start-up
    // (defaults written, record loaded). Made on first use.
    CAppContext& App();

  private:
    const char* argv0_;
    std::optional<std::string> home_;
    std::unique_ptr<CAppContext> app_;
};

// Writes "vardane-cli: <message>" to stderr and returns kExitUsage.
int UsageError(const std::string& message);

}  // namespace vardane
