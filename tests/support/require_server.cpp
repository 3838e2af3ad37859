#include "tests/support/require_server.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <sstream>

namespace vardane::test {

namespace {

void FailWith(const std::string& message) {
    FAIL() << message;
}
void SkipWith(const std::string& message) {
    GTEST_SKIP() << message;
}

std::string PackageOf(const std::string& binary) {
    if (binary == "nginx") {
        return "nginx-light";
    }
    if (binary == "danted") {
        return "dante-server";
    }
    if (binary.find("pure-ftpd") != std::string::npos) {
        return "nothing: scripts/setup.sh --tests unpacks pure-ftpd";
    }
    if (binary.find("pyftpdlib") != std::string::npos) {
        return "python3-pyftpdlib";
    }
    return binary;
}

}  // namespace

std::string FindServer(const std::string& binary) {
    if (!binary.empty() && binary[0] == '/') {
        return ::access(binary.c_str(), X_OK) == 0 ? binary : std::string();
    }
    const char* path = std::getenv("PATH");
    std::string dirs = std::string(path != nullptr ? path : "") + ":/usr/sbin:/sbin";
    std::stringstream parts(dirs);
    std::string dir;
    while (std::getline(parts, dir, ':')) {
        if (dir.empty()) {
            continue;
        }
        std::string candidate = dir + "/" + binary;
        if (::access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
    }
    return {};
}

bool RequireServer(const std::string& binary) {
    if (!FindServer(binary).empty()) {
        return true;
    }
    const std::string message = "*** SERVER MISSING: '" + binary +
                                "' is not installed (apt-get install " + PackageOf(binary) +
                                "); this integration test cannot run ***";
    const char* ci = std::getenv("CI");
    if (ci != nullptr && std::strcmp(ci, "true") == 0) {
        FailWith(message);
    } else {
        std::fprintf(stderr, "%s\n", message.c_str());
        SkipWith(message);
    }
    return false;
}

}  // namespace vardane::test
