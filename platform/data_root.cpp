#include "platform/data_root.h"

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <filesystem>

#include "platform/file.h"

namespace vardane {

namespace {

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value == nullptr ? std::string() : std::string(value);
}

std::string Absolute(const std::string& path) {
    std::error_code ec;
    const std::filesystem::path absolute = std::filesystem::absolute(path, ec);
    return ec ? path : absolute.lexically_normal().string();
}

std::string HomeFolder() {
    std::string home = Env("HOME");
    if (home.empty()) {
        if (const passwd* pw = ::getpwuid(::getuid()); pw != nullptr && pw->pw_dir != nullptr) {
            home = pw->pw_dir;
        }
    }
    return home;
}

// $XDG_DATA_HOME/vardane/, or ~/.local/share/vardane/ (a relative
// XDG_DATA_HOME is ignored, as the base directory rules say).
std::string UserDataFolder() {
    const std::string xdg = Env("XDG_DATA_HOME");
    if (!xdg.empty() && xdg.front() == '/') {
        return WithTrailingSlash(xdg) + "vardane/";
    }
    return WithTrailingSlash(HomeFolder()) + ".local/share/vardane/";
}

// <prefix>/share/vardane/ for an executable in <prefix>/bin/. Where it exists
// the program is installed, and its folder (/usr/bin, writable for root) is
// no place for tasks and settings.
std::string InstalledDataFolder(const std::string& exeFolder) {
    return exeFolder + "../share/vardane/";
}

std::string RealPath(const std::string& path) {
    char resolved[PATH_MAX];
    return ::realpath(path.c_str(), resolved) != nullptr ? std::string(resolved) : std::string();
}

}  // namespace

std::string ExecutablePath(const char* argv0) {
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n > 0) {
        std::string path(buffer, static_cast<size_t>(n));
        constexpr std::string_view kDeleted = " (deleted)";  // replaced while running
        if (path.size() > kDeleted.size() && path.ends_with(kDeleted)) {
            path.resize(path.size() - kDeleted.size());
        }
        return path;
    }
    if (argv0 == nullptr || *argv0 == '\0') {
        return "";
    }
    const std::string name = argv0;
    if (name.find('/') != std::string::npos) {
        return RealPath(name);
    }
    const std::string path = Env("PATH");
    for (size_t start = 0; start <= path.size();) {
        size_t end = path.find(':', start);
        if (end == std::string::npos) {
            end = path.size();
        }
        const std::string dir = end > start ? path.substr(start, end - start) : ".";
        const std::string candidate = WithTrailingSlash(dir) + name;
        if (::access(candidate.c_str(), X_OK) == 0) {
            return RealPath(candidate);
        }
        start = end + 1;
    }
    return "";
}

DataRoot ResolveDataRootFor(const std::optional<std::string>& homeOption,
                            const std::string& exePath) {
    DataRoot root;
    root.AppPath = exePath;
    const std::string exeFolder = FolderOf(exePath);
    std::string folder;
    if (homeOption && !homeOption->empty()) {
        folder = *homeOption;
    } else if (const std::string env = Env("VARDANE_HOME"); !env.empty()) {
        folder = env;
    } else if (!exeFolder.empty() && ::access(exeFolder.c_str(), W_OK) == 0 &&
               !DirectoryExists(InstalledDataFolder(exeFolder))) {
        folder = exeFolder;  // the portable layout: a build tree, an unpacked archive
    } else {
        folder = UserDataFolder();
    }
    root.AppDir = WithTrailingSlash(Absolute(folder));
    MakeDirectories(root.AppDir);
    return root;
}

DataRoot ResolveDataRoot(const std::optional<std::string>& homeOption, const char* argv0) {
    return ResolveDataRootFor(homeOption, ExecutablePath(argv0));
}

std::vector<std::string> LanguageFolders(const DataRoot& root) {
    std::vector<std::string> candidates = {root.AppDir + "Lang/"};
    const std::string exeFolder = FolderOf(root.AppPath);
    if (!exeFolder.empty()) {
        candidates.push_back(exeFolder + "Lang/");
        candidates.push_back(InstalledDataFolder(exeFolder) + "Lang/");
    }
    std::vector<std::string> folders;
    for (const std::string& candidate : candidates) {
        const std::string folder =
            WithTrailingSlash(std::filesystem::path(candidate).lexically_normal().string());
        if (std::find(folders.begin(), folders.end(), folder) == folders.end()) {
            folders.push_back(folder);
        }
    }
    return folders;
}

}  // namespace vardane
