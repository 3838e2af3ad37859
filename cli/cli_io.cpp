#include "cli/cli_io.h"

#include <unistd.h>

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
