#include "app/kept_logs.h"

#include <algorithm>

#include "platform/display_text.h"

namespace vardane {
namespace {

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

void CKeptLogs::Add(const TaskLogEntry& entry) {
    const bool hasThread = entry.ThreadNo >= 0 && entry.ThreadNo < kThreads;
    if (entry.Kind == LogKind::Error) {
        errors_[entry.TaskId] = Error{Shortened(DisplayText(entry.Text, false), kMaxErrorBytes),
                                      hasThread ? entry.ThreadNo + 1 : 0};
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

void CKeptLogs::StartOver(const std::string& id) {
    errors_.erase(id);
    if (lines_.erase(id) > 0) {
        order_.erase(std::find(order_.begin(), order_.end(), id));
    }
}

std::vector<LogLine> CKeptLogs::Lines(const std::string& id, int thread) const {
    auto it = lines_.find(id);
    if (it == lines_.end() || thread < 0 || thread >= kThreads) {
        return {};
    }
    const std::deque<LogLine>& lines = it->second[static_cast<size_t>(thread)];
    return {lines.begin(), lines.end()};
}

std::string CKeptLogs::LastError(const std::string& id) const {
    auto it = errors_.find(id);
    return it == errors_.end() ? std::string() : it->second.Text;
}

int CKeptLogs::LastErrorThread(const std::string& id) const {
    auto it = errors_.find(id);
    return it == errors_.end() ? 0 : it->second.Thread;
}

}  // namespace vardane
