// Passwords that never stand in a command line: --password-stdin reads one
// line of standard input, and --user without a password is asked for at the
// terminal without echo. The password then lives in this process's memory
// and, for a command handed to the owner of the data root, in its socket
// message; ps never shows it.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vardane {

class CliIo;
class CommandLine;
struct AppContext;

// After line parsed args: reads the password the command wants, puts it into
// args as "--password=..." in place of --password-stdin (or after the rest)
// and parses them again into a fresh line. nullopt when the command is
// ready; else its exit status (the message on io).
std::optional<int> TakePasswordInput(std::unique_ptr<CommandLine>& line,
                                     std::vector<std::string>& args, CliIo& io);

// url as ls --urls prints it, with the login's password masked: when a saved
// site has the same scheme, user and host, its real login takes the mask's
// place. Any other address is returned unchanged.
std::string RestoreSiteLogin(AppContext& ctx, const std::string& url);

}  // namespace vardane
