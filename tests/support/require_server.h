// Finding the server binaries that integration tests start. A missing server
// fails the test under CI (CI=true) and skips it, loudly, elsewhere.
#pragma once

#include <string>

namespace vardane::test {

// Full path of binary found in PATH, /usr/sbin or /sbin (a full path is
// taken as it is); empty when missing.
std::string FindServer(const std::string& binary);

// True when binary is installed. Otherwise records a fatal failure (CI=true)
// or a skip with a message naming the package, and returns false; the caller
// returns at once (VARDANE_REQUIRE_SERVER does). Called from a fixture's
// SetUp, the test body is not run in either case.
bool RequireServer(const std::string& binary);

}  // namespace vardane::test

#define VARDANE_REQUIRE_SERVER(binary)                 \
    do {                                               \
        if (!::vardane::test::RequireServer(binary)) { \
            return;                                    \
        }                                              \
    } while (0)
