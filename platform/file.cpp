#include "platform/file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace vardane {

namespace {

std::atomic<SyncFunction> syncFunction{::fsync};

int Sync(int fd) {
    return syncFunction.load()(fd);
}

bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

// Makes the rename itself durable; best effort (some file systems refuse).
void SyncFolder(const std::string& folder) {
    const int fd =
        ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        Sync(fd);
        ::close(fd);
    }
}

}  // namespace

void SetSyncFunctionForTest(SyncFunction sync) {
    syncFunction = sync != nullptr ? sync : ::fsync;
}

bool WriteFileAtomic(const std::string& path, std::string_view bytes, mode_t mode,
                     Durability durability) {
    const bool now = durability == Durability::Now;
    if (path.empty() || path.back() == '/') {
        return false;
    }
    // mkstemp gives a name nobody else uses, in the target's own folder so
    // that the rename stays on one file system.
    std::string temp = path + ".tmp-XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        return false;
    }
    bool ok = ::fchmod(fd, mode) == 0 && WriteAll(fd, bytes) && (!now || Sync(fd) == 0);
    ok = (::close(fd) == 0) && ok;
    if (ok && ::rename(temp.c_str(), path.c_str()) == 0) {
        if (now) {
            SyncFolder(FolderOf(path));
        }
        return true;
    }
    ::unlink(temp.c_str());
    return false;
}

bool SyncExistingFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const bool ok = Sync(fd) == 0;
    ::close(fd);
    if (ok) {
        SyncFolder(FolderOf(path));
    }
    return ok;
}

bool SyncFileSystem(const std::string& folder) {
    const int fd =
        ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const bool ok = ::syncfs(fd) == 0;
    return (::close(fd) == 0) && ok;
}

bool AppendFile(const std::string& path, std::string_view bytes, mode_t mode) {
    int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd >= 0) {
        ::fchmod(fd, mode);  // the umask must not weaken or widen the mode
    } else if (errno == EEXIST) {
        fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    }
    if (fd < 0) {
        return false;
    }
    const bool ok = WriteAll(fd, bytes);
    return (::close(fd) == 0) && ok;
}

bool ReadFileBytes(const std::string& path, std::string& out) {
    out.clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    char buffer[65536];
    bool ok = true;
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            ok = false;  // a folder, an I/O error
            break;
        }
        if (n == 0) {
            break;
        }
        out.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    if (!ok) {
        out.clear();
    }
    return ok;
}

bool FileExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool PathExists(const std::string& path) {
    std::string p = path;
    if (p.size() > 1 && p.back() == '/') {
        p.pop_back();
    }
    struct stat st {};
    return !p.empty() && ::lstat(p.c_str(), &st) == 0;
}

bool DirectoryExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool MakeDirectories(const std::string& path) {
    if (path.empty()) {
        return false;
    }
    for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        const std::string part = path.substr(0, slash);
        if (!part.empty() && ::mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) {
            return false;
        }
        if (slash == std::string::npos) {
            break;
        }
    }
    return DirectoryExists(path);
}

bool RemoveFile(const std::string& path) {
    return ::unlink(path.c_str()) == 0;
}

OwnFileCheck CheckOwnFile(const struct stat& st) {
    if (!S_ISREG(st.st_mode)) {
        return OwnFileCheck::NotRegular;  // a symbolic link among others (lstat)
    }
    if (st.st_nlink != 1) {
        return OwnFileCheck::HasLinks;
    }
    return st.st_uid == ::geteuid() ? OwnFileCheck::Ours : OwnFileCheck::NotOwned;
}

OwnFileCheck CheckOwnFilePath(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        return OwnFileCheck::Absent;
    }
    return CheckOwnFile(st);
}

bool RemoveOwnFile(const std::string& path) {
    return CheckOwnFilePath(path) != OwnFileCheck::Ours || RemoveFile(path);
}

int64_t FileSize(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        return -1;
    }
    return static_cast<int64_t>(st.st_size);
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string WithTrailingSlash(std::string path) {
    if (path.empty() || path.back() != '/') {
        path += '/';
    }
    return path;
}

}  // namespace vardane
