#include "fuzz/fuzz_support.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/utf16.h"

namespace vardane::fuzz {

namespace {

void RemoveScratch() {
    std::error_code ignored;
    std::filesystem::remove_all(ScratchDir(), ignored);
}

}  // namespace

const std::string& ScratchDir() {
    static const std::string dir = [] {
        // Memory-backed when possible: the file targets write on every run.
        const char* base = std::getenv("TMPDIR");
        std::string root = base && *base                   ? base
                           : access("/dev/shm", W_OK) == 0 ? "/dev/shm"
                                                           : "/tmp";
        std::string pattern = root + "/vardane-fuzz-XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr) {
            Fail("mkdtemp", pattern);
        }
        return pattern + "/";
    }();
    static const bool registered = std::atexit(RemoveScratch) == 0;
    (void)registered;
    return dir;
}

std::string WriteScratchFile(std::string_view name, const uint8_t* data, size_t size) {
    std::string path = ScratchDir() + std::string(name);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    out.close();
    if (!out) {
        Fail("write scratch file", path);
    }
    return path;
}

bool IsUtf8(std::string_view text) {
    for (size_t pos = 0; pos < text.size();) {
        char32_t cp = 0;
        size_t n = DecodeUtf8Char(text, pos, cp);
        if (n == 0) {
            return false;
        }
        pos += n;
    }
    return true;
}

void Fail(const char* what, std::string_view detail) {
    std::fprintf(stderr, "fuzz check failed: %s [%.*s]\n", what, static_cast<int>(detail.size()),
                 detail.data());
    std::abort();
}

}  // namespace vardane::fuzz
