// A throw-away data root with its Tasks/ folder, and a context on it.
#pragma once

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/file.h"
#include "settings/app_context.h"

namespace vardane::test {

class TaskTestRoot {
  public:
    TaskTestRoot() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "vardane-task-XXXXXX").string();
        dir_ = ::mkdtemp(pattern.data()) ? pattern + "/" : std::string();
        std::filesystem::create_directories(dir_ + "Tasks");
    }
    ~TaskTestRoot() { std::filesystem::remove_all(dir_); }
    TaskTestRoot(const TaskTestRoot&) = delete;
    TaskTestRoot& operator=(const TaskTestRoot&) = delete;

    const std::string& AppDir() const { return dir_; }
    std::string Path(const std::string& name) const { return dir_ + name; }

  private:
    std::string dir_;
};

inline std::string ReadBytes(const std::string& path) {
    std::string bytes;
    ReadFileBytes(path, bytes);
    return bytes;
}

inline void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

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
