#include "task/task_list.h"

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <mutex>

#include "platform/file.h"
#include "platform/line_reader.h"
#include "platform/text.h"
#include "platform/utf16.h"
#include "settings/app_context.h"
#include "task/progress_file.h"
#include "task/url.h"

namespace vardane {

namespace {

constexpr std::string_view kCrLfUtf16{"\r\0\n\0", 4};

std::string StripLineEnds(std::string line) {
    std::erase_if(line, [](char c) { return c == '\r' || c == '\n'; });
    return line;
}

// Lines of a list file without line ends; false when it cannot be opened.
// Empty lines come only from hand edits or other tools; they are skipped so
// that the tasks after them are not lost.
bool ReadIds(const std::string& path, std::vector<std::string>& ids) {
    TextLineReader reader;
    if (!reader.Open(path)) {
        return false;
    }
    std::string line;
    while (reader.ReadLine(line)) {
        line = StripLineEnds(std::move(line));
        if (!line.empty()) {
            ids.push_back(std::move(line));
        }
    }
    return true;
}

// A list id: digits, as a task id is, and never longer than this.
bool IsListId(std::string_view line) {
    return line.size() <= 40 &&
           std::all_of(line.begin(), line.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string ListLineBytes(std::string_view id) {
    std::string line(id);
    line += "\r\n";
    return Utf16LeBytes(line);
}

// A file this program wrote: byte-order mark, whole UTF-16 units, and every
// line ended by CR LF, so one more line can simply follow.
bool IsAppendable(std::string_view bytes) {
    if (bytes.substr(0, kUtf16LeBom.size()) != kUtf16LeBom || bytes.size() % 2 != 0) {
        return false;
    }
    return bytes.size() == kUtf16LeBom.size() ||
           (bytes.size() >= kCrLfUtf16.size() + kUtf16LeBom.size() &&
            bytes.substr(bytes.size() - kCrLfUtf16.size()) == kCrLfUtf16);
}

}  // namespace

std::string ListFilePath(const std::string& appDir, TaskList list) {
    switch (list) {
        case TaskList::Downloading:
            return appDir + "Tasks/Downloading.lst";
        case TaskList::Completed:
            return appDir + "Tasks/Completed.lst";
        case TaskList::Deleted:
            return appDir + "Tasks/Deleted.lst";
    }
    return {};
}

std::vector<std::string> ReadListIds(const std::string& path) {
    std::vector<std::string> ids;
    ReadIds(path, ids);
    return ids;
}

bool IsListFileSound(const std::string& path) {
    std::error_code error;
    std::filesystem::file_status status = std::filesystem::status(path, error);
    if (status.type() == std::filesystem::file_type::not_found) {
        return true;
    }
    TextLineReader reader;
    if (status.type() != std::filesystem::file_type::regular || !reader.Open(path)) {
        return false;
    }
    std::string line;
    while (reader.ReadLine(line)) {
        if (!IsListId(StripLineEnds(std::move(line)))) {
            return false;
        }
    }
    return true;
}

bool ReadSoundListIds(const std::string& path, std::vector<std::string>& ids) {
    ids.clear();
    std::error_code error;
    std::filesystem::file_status status = std::filesystem::status(path, error);
    if (status.type() == std::filesystem::file_type::not_found) {
        return true;
    }
    std::string bytes;
    if (status.type() != std::filesystem::file_type::regular || !ReadFileBytes(path, bytes)) {
        return false;
    }
    if (bytes.substr(0, kUtf16LeBom.size()) != kUtf16LeBom) {
        // Another tool's encoding: the line reader knows them all.
        return IsListFileSound(path) && ReadIds(path, ids);
    }
    // The line reader's lines are the runs between CR and LF characters, and
    // a conversion to UTF-8 never makes either byte: the lines of the whole
    // text converted at once are the same.
    const std::string text = DecodeUtf16Le(std::string_view(bytes).substr(kUtf16LeBom.size()));
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find_first_of("\r\n", start);
        end = end == std::string::npos ? text.size() : end;
        std::string_view line = std::string_view(text).substr(start, end - start);
        if (!IsListId(line)) {
            ids.clear();
            return false;
        }
        if (!line.empty()) {
            ids.emplace_back(line);
        }
        start = end + 1;
    }
    return true;
}

std::string SetAsideListFile(const std::string& path) {
    const std::string base =
        path + ".corrupt-" + IntToText(static_cast<int64_t>(std::time(nullptr)));
    std::string name = base;
    for (int n = 2; std::filesystem::exists(name); ++n) {
        name = base + "-" + IntToText(n);
    }
    std::error_code error;
    std::filesystem::rename(path, name, error);
    return error ? std::string() : name;
}

std::vector<std::string> ProgressFileIds(const std::string& appDir) {
    std::vector<std::string> ids;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(appDir + "Tasks/", error)) {
        const std::string name = entry.path().filename().string();
        if (name.size() > 5 && name.ends_with(".pro~") && entry.is_regular_file(error)) {
            ids.push_back(name.substr(0, name.size() - 5));
        }
    }
    // Ids are times: by length, then text, is oldest first.
    std::sort(ids.begin(), ids.end(), [](const std::string& a, const std::string& b) {
        return a.size() != b.size() ? a.size() < b.size() : a < b;
    });
    return ids;
}

bool WriteListFile(const std::string& path, const std::vector<std::string>& ids,
                   Durability durability) {
    std::string bytes(kUtf16LeBom);
    for (const std::string& id : ids) {
        bytes += ListLineBytes(id);
    }
    return WriteFileAtomic(path, bytes, 0644, durability);
}

bool AppendListLine(const std::string& path, std::string_view id, Durability durability) {
    std::string bytes;
    if (!ReadFileBytes(path, bytes) || bytes.empty()) {
        return WriteFileAtomic(path, std::string(kUtf16LeBom) + ListLineBytes(id), 0644,
                               durability);
    }
    if (IsAppendable(bytes)) {
        return WriteFileAtomic(path, bytes + ListLineBytes(id), 0644, durability);
    }
    // Another tool's encoding or an unterminated last line: UTF-16LE bytes
    // appended to it would be unreadable, so the list is written anew.
    std::vector<std::string> ids = ReadListIds(path);
    ids.emplace_back(id);
    return WriteListFile(path, ids, durability);
}

bool RemoveListLine(const std::string& path, std::string_view id) {
    std::vector<std::string> ids;
    if (!ReadIds(path, ids)) {
        return false;
    }
    std::erase(ids, id);
    return WriteListFile(path, ids);
}

bool SwapListLines(const std::string& path, std::string_view a, std::string_view b) {
    std::vector<std::string> ids;
    if (!ReadIds(path, ids)) {
        return false;
    }
    for (std::string& line : ids) {
        if (line == a) {
            line = b;
        } else if (line == b) {
            line = a;
        }
    }
    return WriteListFile(path, ids);
}

bool IsUrlInDownloadList(AppContext& ctx, std::string_view address) {
    std::lock_guard lock(ctx.ListLock);
    const std::string& appDir = ctx.AppDir();
    for (const std::string& id : ReadListIds(ListFilePath(appDir, TaskList::Downloading))) {
        if (EqualsNoCase(ReadProgress(ProgressFilePath(appDir, id)).BaseURL, address)) {
            return true;
        }
    }
    return false;
}

}  // namespace vardane
