// A unique folder under /tmp for one test, removed with everything in it when
// the object goes away. Path() ends with '/'.
#pragma once

#include <string>

namespace vardane::test {

class TempDir {
  public:
    // prefix names the folder ("/tmp/<prefix>-XXXXXX/") to help diagnostics.
    explicit TempDir(const std::string& prefix = "vardane-test");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return path_; }
    // Path() + name.
    std::string operator/(const std::string& name) const { return path_ + name; }
    // Creates Path() + name (and its parents) as a folder; returns it with '/'.
    std::string MakeDir(const std::string& name) const;

  private:
    std::string path_;
};

// Writes bytes to path (parents created); false on failure.
bool WriteFile(const std::string& path, const std::string& bytes);
// The whole file; empty when it cannot be read.
std::string ReadFile(const std::string& path);

}  // namespace vardane::test
