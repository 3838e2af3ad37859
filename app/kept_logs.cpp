#include "app/kept_logs.h"

#include <algorithm>
#include <cctype>

#include "platform/display_text.h"
#include "task/progress_file.h"
#include "task/url.h"

namespace vardane {
namespace {

bool InScheme(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '+' || c == '-' || c == '.';
}

bool EndsAddress(char c) {
    return c == ' ' || c == '\t' || c == '"' || c == '\'' || c == '<' || c == '>';
}

// Every "scheme://..." in text with its password masked.
std::string MaskAddresses(std::string_view text) {
    std::string out;
    size_t done = 0;
    size_t mark = text.find("://");
    while (mark != std::string_view::npos) {
        size_t begin = mark;
        while (begin > done && InScheme(text[begin - 1])) {
            --begin;
        }
        size_t next = mark + 3;
        if (begin < mark) {
            size_t end = next;
            while (end < text.size() && !EndsAddress(text[end])) {
                ++end;
            }
            out += text.substr(done, begin - done);
            out += MaskUrlPassword(text.substr(begin, end - begin));
            done = end;
            next = end;
        }
        mark = text.find("://", next);
    }
    out += text.substr(done);
    return out;
}

// Cut at a character boundary, so the text stays valid UTF-8.
std::string Shortened(std::string text, size_t bytes) {
    if (text.size() <= bytes) {
        return text;
    }
    size_t end = bytes;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) {
        --end;
    }
    text.resize(end);
    return text + "...";
}

}  // namespace

std::string ErrorLineToKeep(std::string_view text) {
    return Shortened(MaskAddresses(DisplayText(text, false)), kMaxLastErrorBytes);
}

void KeptLogs::Add(const TaskLogEntry& entry) {
    const bool hasThread = entry.ThreadNo >= 0 && entry.ThreadNo < kThreads;
    if (entry.Kind == LogKind::Error) {
        errors_[entry.TaskId] =
            Error{ErrorLineToKeep(entry.Text), hasThread ? entry.ThreadNo + 1 : 0};
    }
    if (!hasThread) {
        return;
    }
    auto it = lines_.find(entry.TaskId);
    if (it == lines_.end()) {
        if (order_.size() >= kKeptTasks) {
            lines_.erase(order_.front());
            order_.pop_front();
        }
        it = lines_.emplace(entry.TaskId, std::array<std::deque<LogLine>, kThreads>{}).first;
        order_.push_back(entry.TaskId);
    }
    std::deque<LogLine>& lines = it->second[static_cast<size_t>(entry.ThreadNo)];
    if (lines.size() >= kMaxLogLines) {
        lines.pop_front();
    }
    lines.push_back(LogLine{entry.Kind, DisplayText(entry.Text)});
}

void KeptLogs::StartOver(const std::string& id) {
    errors_.erase(id);
    if (lines_.erase(id) > 0) {
        order_.erase(std::find(order_.begin(), order_.end(), id));
    }
}

std::vector<LogLine> KeptLogs::Lines(const std::string& id, int thread,
                                     const QueuedTask* stored) const {
    auto it = lines_.find(id);
    if (it == lines_.end() || thread < 0 || thread >= kThreads) {
        std::string why = thread == 0 ? LastError(id, stored) : std::string();
        if (why.empty()) {
            return {};
        }
        return {LogLine{LogKind::Error, std::move(why)}};
    }
    const std::deque<LogLine>& lines = it->second[static_cast<size_t>(thread)];
    return {lines.begin(), lines.end()};
}

std::string KeptLogs::LastError(const std::string& id, const QueuedTask* stored) const {
    auto it = errors_.find(id);
    if (it != errors_.end()) {
        return it->second.Text;
    }
    // The file is anyone's to edit: the stored line is made fit again.
    return stored != nullptr ? ErrorLineToKeep(stored->Record().LastError) : std::string();
}

int KeptLogs::LastErrorThread(const std::string& id) const {
    auto it = errors_.find(id);
    return it == errors_.end() ? 0 : it->second.Thread;
}

bool KeptLogs::StoreWithTask(TaskQueue& queue, const std::string& appDir,
                             const std::string& id) const {
    auto it = errors_.find(id);
    const QueuedTask* task = queue.Find(id);
    if (it == errors_.end() || task == nullptr) {
        return false;
    }
    TaskProgressRecord record = task->Record();
    record.LastError = it->second.Text;
    if (!WriteProgress(record, ProgressFilePath(appDir, id))) {
        return false;
    }
    queue.Adopt(id, &record);
    return true;
}

}  // namespace vardane
