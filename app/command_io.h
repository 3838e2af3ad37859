// Where a command's output goes and where its questions are answered: the
// process's own terminal, or a client process behind the instance socket.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vardane {

class CliIo {
  public:
    virtual ~CliIo() = default;
    virtual void Out(std::string_view text) = 0;
    virtual void Err(std::string_view text) = 0;
    // Whether a person can be asked (standard input is a terminal).
    virtual bool InputIsTerminal() const = 0;
    // Whether output goes to a terminal (progress bar instead of lines).
    virtual bool OutputIsTerminal() const = 0;
    // Asks text with a y/n prompt; nullopt when nobody can answer.
    virtual std::optional<bool> AskYesNo(const std::string& text) = 0;
    // Folder relative paths of the command line are taken from, with '/'.
    virtual std::string WorkingDirectory() const = 0;
};

// The process's standard streams.
class StdIo : public CliIo {
  public:
    StdIo();
    void Out(std::string_view text) override;
    void Err(std::string_view text) override;
    bool InputIsTerminal() const override { return inputTty_; }
    bool OutputIsTerminal() const override { return outputTty_; }
    std::optional<bool> AskYesNo(const std::string& text) override;
    std::string WorkingDirectory() const override;

  private:
    bool inputTty_;
    bool outputTty_;
};

// path made absolute against the command's working folder.
std::string AbsolutePath(const CliIo& io, const std::string& path);

}  // namespace vardane
