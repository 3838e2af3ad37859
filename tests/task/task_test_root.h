// A throw-away data root with its Tasks/ folder, and a context on it.
#pragma once

#include <sys/stat.h>

#include <string>

#include "settings/app_context.h"
#include "tests/support/temp_dir.h"

namespace vardane::test {

class TaskTestRoot {
  public:
    TaskTestRoot() { dir_.MakeDir("Tasks"); }

    const std::string& AppDir() const { return dir_.Path(); }
    std::string Path(const std::string& name) const { return dir_ / name; }

  private:
    TempDir dir_{"vardane-task"};
};

// UTF-16LE of ASCII text, built by hand so that the tests do not trust the
// converter under test.
inline std::string AsciiUtf16Le(const std::string& text) {
    std::string out;
    for (char c : text) {
        out += c;
        out += '\0';
    }
    return out;
}

inline std::string AsciiUtf16Be(const std::string& text) {
    std::string out;
    for (char c : text) {
        out += '\0';
        out += c;
    }
    return out;
}

inline std::string Utf16LeFile(const std::string& text) {
    return std::string("\xFF\xFE", 2) + AsciiUtf16Le(text);
}

inline mode_t FileMode(const std::string& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st.st_mode & 0777;
}

}  // namespace vardane::test
