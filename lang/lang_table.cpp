#include "lang/lang_table.h"

#include <utility>

#include "platform/file.h"
#include "platform/line_reader.h"
#include "platform/text.h"

namespace vardane {

namespace {

using Table = std::map<std::string, std::string>;

// Every "key=value" line of the file; a line without '=' or starting with it
// defines nothing. Keys are stored in lower case and the first line of a key
// wins. Nothing is trimmed.
std::shared_ptr<const Table> LoadTable(const std::string& path) {
    auto table = std::make_shared<Table>();
    if (path.empty()) {
        return table;
    }
    TextLineReader reader;
    if (!reader.Open(path)) {
        return table;
    }
    std::string line;
    while (reader.ReadLine(line)) {
        size_t eq = line.find('=');
        if (eq == std::string::npos || eq == 0) {
            continue;
        }
        table->emplace(ToLowerAscii(std::string_view(line).substr(0, eq)), line.substr(eq + 1));
    }
    return table;
}

std::string FindLangFile(const std::vector<std::string>& folders, std::string_view code) {
    if (code.empty()) {
        return {};
    }
    for (const std::string& folder : folders) {
        std::string path = folder + std::string(code);
        if (FileExists(path)) {
            return path;
        }
    }
    return {};
}

}  // namespace

LangTable::LangTable(std::vector<std::string> folders, std::string code)
    : folders_(std::move(folders)), code_(std::move(code)) {}

void LangTable::SetFolders(std::vector<std::string> folders) {
    std::lock_guard lock(mutex_);
    folders_ = std::move(folders);
    table_.reset();
}

void LangTable::SetCurrent(std::string code) {
    std::lock_guard lock(mutex_);
    code_ = std::move(code);
    table_.reset();
}

std::string LangTable::Current() const {
    std::lock_guard lock(mutex_);
    return code_;
}

std::string LangTable::GetLangText(std::string_view key) const {
    std::shared_ptr<const Table> table;
    {
        std::lock_guard lock(mutex_);
        if (!table_) {
            table_ = LoadTable(FindLangFile(folders_, code_));
        }
        table = table_;
    }
    auto it = table->find(ToLowerAscii(key));
    return it == table->end() ? std::string() : it->second;
}

std::string LangTable::GetCountText(std::string_view key, int64_t count) const {
    if (count == 1) {
        std::string one = GetLangText(std::string(key) + "_One");
        if (!one.empty()) {
            return one;
        }
    }
    return GetLangText(key);
}

std::string LangTable::LangFilePath(std::string_view code) const {
    std::lock_guard lock(mutex_);
    return FindLangFile(folders_, code);
}

}  // namespace vardane
