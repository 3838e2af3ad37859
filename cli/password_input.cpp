#include "cli/password_input.h"

#include <termios.h>
#include <unistd.h>

#include <iostream>

#include "app/command_io.h"
#include "app/owner_runtime.h"
#include "cli/command_line.h"
#include "explorer/site_list.h"
#include "task/display_address.h"

namespace vardane {

namespace {

constexpr std::string_view kStdinFlag = "--password-stdin";

// One line of standard input without its line end; nullopt at the end of
// the input before any character.
std::optional<std::string> ReadLine() {
    std::string text;
    if (!std::getline(std::cin, text) && text.empty()) {
        return std::nullopt;
    }
    if (text.ends_with('\r')) {
        text.pop_back();
    }
    return text;
}

// Asks on standard error and reads the answer with the terminal's echo off.
std::optional<std::string> AskHidden(CliIo& io) {
    io.Err("Password: ");
    termios saved{};
    const bool haveTerminal = tcgetattr(STDIN_FILENO, &saved) == 0;
    if (haveTerminal) {
        termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    std::optional<std::string> text = ReadLine();
    if (haveTerminal) {
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    }
    io.Err("\n");
    return text;
}

}  // namespace

std::optional<int> TakePasswordInput(std::unique_ptr<CommandLine>& line,
                                     std::vector<std::string>& args, CliIo& io) {
    const CommandLine::PasswordInput wanted = line->WantedPassword();
    if (wanted == CommandLine::PasswordInput::None ||
        (wanted == CommandLine::PasswordInput::Prompt && !io.InputIsTerminal())) {
        return std::nullopt;
    }
    for (const std::string& arg : args) {
        if (arg == "--password" || arg.starts_with("--password=")) {
            io.Err("vardane-cli: give --password or --password-stdin, not both\n");
            return kStatusUsage;
        }
    }
    std::optional<std::string> password;
    if (wanted == CommandLine::PasswordInput::Stdin) {
        password = ReadLine();
        if (!password) {
            io.Err("vardane-cli: --password-stdin: standard input holds no line\n");
            return kStatusUsage;
        }
    } else {
        password = AskHidden(io);
        if (!password) {
            return kStatusFailed;
        }
    }
    std::vector<std::string> rewritten;
    bool placed = false;
    for (const std::string& arg : args) {
        if (arg == kStdinFlag && !placed) {
            rewritten.push_back("--password=" + *password);
            placed = true;
        } else if (arg != kStdinFlag) {
            rewritten.push_back(arg);
        }
    }
    if (!placed) {
        rewritten.push_back("--password=" + *password);
    }
    args = std::move(rewritten);
    line = std::make_unique<CommandLine>();
    return line->Parse(args, io);
}

std::string RestoreSiteLogin(AppContext& ctx, const std::string& url) {
    if (url.find(kMaskedSecret) == std::string::npos) {
        return url;
    }
    for (const SiteEntry& site : LoadSites(ctx)) {
        std::string real = UnmaskAddress(url, site.Url);
        if (real != url) {
            return real;
        }
    }
    return url;
}

}  // namespace vardane
