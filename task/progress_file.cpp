#include "task/progress_file.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <ctime>
#include <mutex>

#include "platform/file.h"
#include "platform/text.h"
#include "platform/utf16.h"
#include "settings/app_settings.h"
#include "task/download_task.h"
#include "task/url.h"

namespace vardane {

namespace {

constexpr std::string_view kSection = "[FileInfo]";
constexpr std::string_view kBlockKey = "Block_";
constexpr std::string_view kCrLf = "\r\n";

// The twelve named keys and their fields, in file order.
template <typename Record, typename Visit>
void ForEachNamedField(Record& r, Visit visit) {
    visit("BaseURL", r.BaseURL);
    visit("LocalDir", r.LocalDir);
    visit("LocalFileName", r.LocalFileName);
    visit("LocalTempFileName", r.LocalTempFileName);
    visit("ProxyHTTP", r.ProxyHTTP);
    visit("ProxyFTP", r.ProxyFTP);
    visit("State", r.State);
    visit("ThreadCount", r.ThreadCount);
    visit("Folder", r.Folder);
    visit("Cat", r.Cat);
    visit("FileSize", r.FileSize);
    visit("FilePos", r.FilePos);
}

// Keys after the block lines, in file order; each is written only when it
// has a value, so the file of a task without them keeps its form to the byte.
// ETag, LastModified and MDTM: the version of the server's file that the
// stored bytes come from. Checksum: the digest the user gave for the file.
// Cookie, Referer and UserAgent: the task's own request header values.
// LastError: the line that said why the task failed.
template <typename Record, typename Visit>
void ForEachOptionalField(Record& r, Visit visit) {
    visit("ETag", r.Validators.ETag);
    visit("LastModified", r.Validators.LastModified);
    visit("MDTM", r.Validators.ModTime);
    visit("Checksum", r.Checksum);
    visit("Cookie", r.Headers.Cookie);
    visit("Referer", r.Headers.Referer);
    visit("UserAgent", r.Headers.UserAgent);
    visit("LastError", r.LastError);
}

// Every field of a record, in file order (BaseURL first).
template <typename Record, typename Visit>
void ForEachField(Record& r, Visit visit) {
    ForEachNamedField(r, visit);
    for (auto& block : r.Block) {
        visit(kBlockKey, block);
    }
    ForEachOptionalField(r, visit);
}

// The packed texts of a record: each after its length, one byte below 255,
// else 255 and four bytes.
std::string PackTexts(const std::array<std::string_view, kProgressFieldCount>& texts) {
    size_t size = 0;
    for (std::string_view text : texts) {
        size += (text.size() < 255 ? 1 : 5) + text.size();
    }
    std::string packed(size, '\0');
    char* at = packed.data();
    for (std::string_view text : texts) {
        if (text.size() < 255) {
            *at++ = static_cast<char>(text.size());
        } else {
            *at++ = static_cast<char>(255);
            for (int shift = 0; shift < 32; shift += 8) {
                *at++ = static_cast<char>((text.size() >> shift) & 0xFF);
            }
        }
        if (!text.empty()) {
            std::memcpy(at, text.data(), text.size());
            at += text.size();
        }
    }
    return packed;
}

// The next field of packed, taken off its front; "" when it runs out.
std::string_view TakeField(std::string_view& packed) {
    if (packed.empty()) {
        return {};
    }
    size_t size = static_cast<unsigned char>(packed[0]);
    size_t head = 1;
    if (size == 255) {
        if (packed.size() < 5) {
            packed = {};
            return {};
        }
        size = 0;
        for (int i = 0; i < 4; ++i) {
            size |= static_cast<size_t>(static_cast<unsigned char>(packed[1 + i])) << (8 * i);
        }
        head = 5;
    }
    size = std::min(size, packed.size() - head);
    std::string_view field = packed.substr(head, size);
    packed.remove_prefix(head + size);
    return field;
}

// The key of each field in file order; a block's key is Block_<index>.
constexpr std::array<std::string_view, kProgressFieldCount> kFieldKeys = {
    "BaseURL",   "LocalDir",     "LocalFileName", "LocalTempFileName",
    "ProxyHTTP", "ProxyFTP",     "State",         "ThreadCount",
    "Folder",    "Cat",          "FileSize",      "FilePos",
    "Block_0",   "Block_1",      "Block_2",       "Block_3",
    "ETag",      "LastModified", "MDTM",          "Checksum",
    "Cookie",    "Referer",      "UserAgent",     "LastError"};
constexpr size_t kFirstBlock = static_cast<size_t>(ProgressField::Block0);
constexpr size_t kBlockFields = std::tuple_size_v<decltype(TaskProgressRecord::Block)>;
static_assert(static_cast<size_t>(ProgressField::Block3) + 1 == kFirstBlock + kBlockFields);
static_assert(static_cast<size_t>(ProgressField::LastError) + 1 == kProgressFieldCount);

// The field a key sets, kProgressFieldCount for none. Keys are
// case-sensitive. Any other key that starts with Block_ sets the block of
// its last character: Block_1 and Block_11 both mean 1. expected is the
// field after the last one set: a file this program wrote holds its keys in
// file order, so a key is nearly always that one.
size_t FieldOfKey(std::string_view key, size_t expected) {
    if (expected < kProgressFieldCount && key == kFieldKeys[expected]) {
        return expected;
    }
    for (size_t i = 0; i < kProgressFieldCount; ++i) {
        if ((i < kFirstBlock || i >= kFirstBlock + kBlockFields) && key == kFieldKeys[i]) {
            return i;
        }
    }
    if (key.substr(0, kBlockKey.size()) == kBlockKey && key.back() >= '0' &&
        static_cast<size_t>(key.back() - '0') < kBlockFields) {
        return kFirstBlock + static_cast<size_t>(key.back() - '0');
    }
    return kProgressFieldCount;
}

// The texts of a record without a file: the defaults of its fields.
const std::array<std::string_view, kProgressFieldCount>& DefaultTexts() {
    static const TaskProgressRecord defaults;
    static const std::array<std::string_view, kProgressFieldCount> texts = [] {
        std::array<std::string_view, kProgressFieldCount> all{};
        size_t i = 0;
        ForEachField(defaults,
                     [&](std::string_view, const std::string& value) { all[i++] = value; });
        return all;
    }();
    return texts;
}

// A wide C string ends at its first NUL character.
std::string_view UpToNul(std::string_view text) {
    return text.substr(0, text.find('\0'));
}

// No file here is larger: anything beyond is a damaged or forged number.
constexpr int64_t kMaxFileBytes = int64_t{1} << 62;

// Empty, or decimal digits for a value in 0..max.
bool NumberFits(std::string_view text, int64_t max) {
    if (text.empty()) {
        return true;
    }
    if (text.size() > 19 || text.find_first_not_of("0123456789") != std::string_view::npos) {
        return false;
    }
    return TextToInt(text) <= max;
}

std::atomic<IProgressFileObserver*> gObserver{nullptr};

// WriteFileAtomic of a progress file (mode 0600: BaseURL may hold a
// password), seen by the observer.
bool WriteProgressBytes(const std::string& path, const std::string& bytes, Durability durability) {
    if (!WriteFileAtomic(path, bytes, 0600, durability)) {
        return false;
    }
    if (IProgressFileObserver* observer = gObserver.load()) {
        observer->OnProgressWritten(path, bytes);
    }
    return true;
}

}  // namespace

void SetProgressFileObserver(IProgressFileObserver* observer) {
    gObserver.store(observer);
}

bool ReadProgressBytes(const std::string& path, std::string& bytes) {
    if (IProgressFileObserver* observer = gObserver.load()) {
        observer->OnProgressRead(path);
    }
    return ReadFileBytes(path, bytes);
}

bool ProgressNumbersValid(const TaskProgressRecord& r) {
    if (!NumberFits(r.FileSize, kMaxFileBytes)) {
        return false;
    }
    int64_t size = r.FileSize.empty() ? kMaxFileBytes : TextToInt(r.FileSize);
    if (!NumberFits(r.FilePos, size)) {
        return false;
    }
    for (const std::string& block : r.Block) {
        size_t dash = block.find('-');
        if (!block.empty() &&
            (dash == std::string::npos || !NumberFits(block.substr(0, dash), size) ||
             !NumberFits(block.substr(dash + 1), size))) {
            return false;
        }
    }
    return true;
}

void ForgetStoredBytes(TaskProgressRecord& record) {
    record.LocalTempFileName.clear();
    record.FileSize.clear();
    record.FilePos.clear();
    record.Block = {};
    record.Validators = {};
}

TaskProgressRecord SetAsideCorruptProgress(const std::string& path) {
    std::string bytes;
    if (ReadProgressBytes(path, bytes)) {
        std::string aside =
            path + ".corrupt-" + IntToText(static_cast<int64_t>(std::time(nullptr)));
        if (!WriteFileAtomic(aside, bytes, 0600)) {
            // Nothing to keep it in; the task still starts afresh.
        }
    }
    TaskProgressRecord record = ParseProgress(bytes);
    if (!record.LocalTempFileName.empty() &&
        record.LocalTempFileName.find('/') == std::string::npos) {
        RemoveFile(WithTrailingSlash(record.LocalDir) + record.LocalTempFileName);
    }
    ForgetStoredBytes(record);
    if (!WriteProgress(record, path)) {
        // The start goes on from the cleaned record in memory.
    }
    return record;
}

std::string FormatProgress(const TaskProgressRecord& record) {
    std::string text(kSection);
    text += kCrLf;
    auto line = [&text](std::string_view key, const std::string& value) {
        text += key;
        text += '=';
        text += value;
        text += kCrLf;
    };
    ForEachNamedField(record, line);
    for (int i = 0; i < 4; ++i) {
        line(std::string(kBlockKey) + IntToText(i), record.Block[i]);
    }
    ForEachOptionalField(record, [&line](std::string_view key, const std::string& value) {
        if (!value.empty()) {
            line(key, value);
        }
    });
    return Utf16LeFileBytes(text);
}

void ProgressParser::Parse(std::string_view bytes) {
    texts_ = DefaultTexts();
    if (bytes.substr(0, kUtf16LeBom.size()) != kUtf16LeBom) {
        return;
    }
    DecodeUtf16LeInto(bytes.substr(kUtf16LeBom.size()), decoded_);
    std::string_view text = UpToNul(decoded_);
    // Lines end with CR LF; a last line without it is ignored, and the walk
    // stops at an empty line.
    size_t expected = 0;
    for (;;) {
        size_t end = text.find(kCrLf);
        if (end == std::string_view::npos || end == 0) {
            break;
        }
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end + kCrLf.size());
        size_t eq = line.find('=');
        if (eq == std::string_view::npos || eq == 0) {
            continue;  // the section line, or an empty key: matches nothing
        }
        size_t field = FieldOfKey(line.substr(0, eq), expected);
        if (field < kProgressFieldCount) {
            texts_[field] = line.substr(eq + 1);
            expected = field + 1;
        }
    }
}

TaskProgressRecord ProgressParser::Record() const {
    TaskProgressRecord record;
    size_t i = 0;
    ForEachField(record, [&](std::string_view, std::string& value) { value = texts_[i++]; });
    return record;
}

std::string ProgressParser::Packed() const {
    return PackTexts(texts_);
}

TaskProgressRecord ParseProgress(std::string_view bytes) {
    ProgressParser parser;
    parser.Parse(bytes);
    return parser.Record();
}

std::string PackProgress(const TaskProgressRecord& record) {
    std::array<std::string_view, kProgressFieldCount> texts;
    size_t i = 0;
    ForEachField(record, [&](std::string_view, const std::string& value) { texts[i++] = value; });
    return PackTexts(texts);
}

TaskProgressRecord UnpackProgress(std::string_view packed) {
    TaskProgressRecord record;
    if (packed.empty()) {
        return record;
    }
    ForEachField(record,
                 [&packed](std::string_view, std::string& value) { value = TakeField(packed); });
    return record;
}

std::string_view PackedBaseUrl(std::string_view packed) {
    return TakeField(packed);
}

TaskProgressRecord ReadProgress(const std::string& path) {
    std::string bytes;
    if (!ReadProgressBytes(path, bytes)) {
        return TaskProgressRecord{};
    }
    return ParseProgress(bytes);
}

bool WriteProgress(const TaskProgressRecord& record, const std::string& path,
                   Durability durability) {
    return WriteProgressBytes(path, FormatProgress(record), durability);
}

bool UpdateProgress(const std::string& path, const std::function<void(TaskProgressRecord&)>& change,
                    Durability durability) {
    std::string before;
    TaskProgressRecord record =
        ReadProgressBytes(path, before) ? ParseProgress(before) : TaskProgressRecord{};
    change(record);
    std::string after = FormatProgress(record);
    if (after == before) {
        // Nothing to change (the engine's final save already holds what the
        // queue writes on completion): a rewrite would only cost a rename
        // and its flushes beside a busy disk. Durable still means durable,
        // and a sync of a file already on disk is cheap.
        return durability == Durability::Deferred || SyncExistingFile(path);
    }
    return WriteProgressBytes(path, after, durability);
}

namespace {

// Writes the task's record when it differs from what the file holds. With
// the task's ProgressLock held.
bool WriteTaskRecordLocked(DownloadTask& task, Durability durability) {
    std::string path;
    {
        std::lock_guard lock(task.TaskLock);
        path = task.descriptor.ProgressPath;
    }
    if (path.empty()) {
        return false;  // idle slot: no task, no file
    }
    std::string bytes = FormatProgress(task.Record);
    if (bytes == task.RecordWritten) {
        // Nothing new: a rewrite would only cost a rename and its flushes
        // beside a busy disk. Durable still means durable.
        if (durability == Durability::Now && !task.RecordDurable) {
            task.RecordDurable = SyncExistingFile(path);
            return task.RecordDurable;
        }
        return true;
    }
    if (!WriteProgressBytes(path, bytes, durability)) {
        return false;
    }
    task.RecordWritten = std::move(bytes);
    task.RecordDurable = durability == Durability::Now;
    return true;
}

void MergeLiveValues(DownloadTask& task, TaskProgressRecord& record) {
    std::lock_guard lock(task.TaskLock);
    TaskDescriptor& d = task.descriptor;
    if (!record.BaseURL.empty()) {
        d.BaseURL = record.BaseURL;
    } else {
        record.BaseURL = d.BaseURL;
    }
    record.ThreadCount = IntToText(d.ThreadCount);
    if (d.FileSize > 0 && d.State != TaskState::Failed && d.RangeMode) {
        record.FileSize = IntToText(d.FileSize);
        record.FilePos = IntToText(d.Downloaded);
        record.Validators = d.Validators;
    }
    if (d.Blocks) {
        for (int i = 0; i < kBlockCount; ++i) {
            const TaskBlock& b = (*d.Blocks)[i];
            record.Block[i] = IntToText(b.From) + "-" + IntToText(b.To);
        }
    }
}

}  // namespace

void AdoptTaskRecord(DownloadTask& task, const TaskProgressRecord& record, std::string fileBytes) {
    std::lock_guard progress(task.ProgressLock);
    task.Record = record;
    task.RecordWritten = std::move(fileBytes);
    task.RecordDurable = false;
}

TaskProgressRecord TaskRecord(DownloadTask& task) {
    std::lock_guard progress(task.ProgressLock);
    return task.Record;
}

void StageTaskProgress(DownloadTask& task, const std::function<void(TaskProgressRecord&)>& change) {
    std::lock_guard progress(task.ProgressLock);
    change(task.Record);
}

bool UpdateTaskProgress(DownloadTask& task, const std::function<void(TaskProgressRecord&)>& change,
                        Durability durability) {
    std::lock_guard progress(task.ProgressLock);
    change(task.Record);
    return WriteTaskRecordLocked(task, durability);
}

void SaveProgress(DownloadTask& task, Durability durability) {
    std::lock_guard progress(task.ProgressLock);
    MergeLiveValues(task, task.Record);
    WriteTaskRecordLocked(task, durability);
}

bool TrySaveProgress(DownloadTask& task) {
    std::unique_lock progress(task.ProgressLock, std::try_to_lock);
    if (!progress.owns_lock()) {
        return false;
    }
    MergeLiveValues(task, task.Record);
    WriteTaskRecordLocked(task, Durability::Deferred);
    return true;
}

TaskState GetTaskState(const std::string& appDir, std::string_view id) {
    return StateFromStored(
        static_cast<int>(TextToInt(ReadProgress(ProgressFilePath(appDir, id)).State)));
}

void SetTaskState(const std::string& appDir, std::string_view id, TaskState state) {
    UpdateProgress(ProgressFilePath(appDir, id), [state](TaskProgressRecord& record) {
        record.State = IntToText(StoredState(state));
    });
}

TaskProgressRecord NewStoppedTaskRecord(const AppSettings& settings, std::string_view url,
                                        std::string_view folder, std::string_view fileName) {
    TaskProgressRecord record;
    record.BaseURL = url;
    record.LocalDir = folder;
    record.LocalFileName = fileName;
    record.ProxyHTTP = IntToText(settings.ProxyHTTP);
    record.ProxyFTP = IntToText(settings.ProxyFTP);
    record.State = IntToText(StoredState(TaskState::Stopped));
    record.ThreadCount = IntToText(settings.ThreadCnt);
    return record;
}

}  // namespace vardane
