#include "app/task_queue.h"

#include <algorithm>
#include <array>
#include <map>
#include <set>
#include <string_view>
#include <unordered_map>

#include "platform/file.h"
#include "platform/text.h"
#include "task/download_task.h"
#include "task/progress_file.h"
#include "task/url.h"

namespace vardane {

int QueuedTask::Percent() const {
    if (Size < 1) {
        return -1;
    }
    if (Pos >= Size) {
        return 100;
    }
    // Pos * 100 may overflow and a double quotient may round up to 100: a
    // file that lacks a byte is at most 99% done.
    auto percent = static_cast<int>(static_cast<long double>(std::max<int64_t>(Pos, 0)) * 100 /
                                    static_cast<long double>(Size));
    return std::min(percent, 99);
}

namespace {

// Reads the progress files of many tasks with the same buffers.
class TaskFileReader {
  public:
    explicit TaskFileReader(const std::string& appDir) : folder_(appDir + "Tasks/") {}

    // The task of id, which it takes; false (id left as it was) when its
    // file is missing or not readable at all.
    bool Take(std::string& id, QueuedTask& task) {
        path_ = folder_;
        path_ += id;
        path_ += ".pro~";  // ProgressFilePath
        if (!ReadProgressBytes(path_, bytes_)) {
            return false;
        }
        parser_.Parse(bytes_);
        task.Id = std::move(id);
        task.State =
            StateFromStored(static_cast<int>(TextToInt(parser_.Text(ProgressField::State))));
        task.Name = parser_.Text(ProgressField::LocalFileName);
        task.Dir = parser_.Text(ProgressField::LocalDir);
        task.Category = parser_.Text(ProgressField::Cat);
        task.Size = std::max<int64_t>(TextToInt(parser_.Text(ProgressField::FileSize)), 0);
        task.PosText = parser_.Text(ProgressField::FilePos);
        task.Pos = TextToInt(task.PosText);
        task.PackedRecord = parser_.Packed();
        return true;
    }

  private:
    std::string folder_;
    std::string path_;
    std::string bytes_;
    ProgressParser parser_;
};

}  // namespace

std::optional<QueuedTask> TaskQueue::ReadTask(const std::string& id) const {
    QueuedTask task;
    std::string taken = id;
    if (!TaskFileReader(appDir_).Take(taken, task)) {
        return std::nullopt;
    }
    return task;
}

// Without this a bad list reads as empty and the next change rewrites it,
// and every task it held is lost to the lists. Leaves the ids of each list
// in listed.
std::vector<std::string> TaskQueue::RebuildBadLists(
    std::array<std::vector<std::string>, 3>& listed) {
    std::vector<std::string> problems;
    const TaskList all[] = {TaskList::Downloading, TaskList::Completed, TaskList::Deleted};
    std::vector<TaskList> bad;
    for (TaskList list : all) {
        const std::string path = ListFilePath(appDir_, list);
        if (ReadSoundListIds(path, listed[Index(list)])) {
            continue;
        }
        std::string aside = SetAsideListFile(path);
        if (aside.empty()) {
            problems.push_back("cannot read " + path + " and cannot move it aside");
            listed[Index(list)] = ReadListIds(path);
            continue;
        }
        problems.push_back("cannot read " + path + ": moved to " + aside +
                           ", rebuilt from the progress files");
        bad.push_back(list);
    }
    if (bad.empty()) {
        return problems;
    }
    std::set<std::string> named;
    for (TaskList list : all) {
        if (std::find(bad.begin(), bad.end(), list) == bad.end()) {
            named.insert(listed[Index(list)].begin(), listed[Index(list)].end());
        }
    }
    for (TaskList list : bad) {
        // Unlisted tasks go back to the bad list: completed ones to
        // Completed.lst when that is the bad one, the others to the first.
        std::vector<std::string> ids;
        for (const std::string& id : ProgressFileIds(appDir_)) {
            bool completed = GetTaskState(appDir_, id) == TaskState::Completed;
            bool here = list == bad.front() || (list == TaskList::Completed && completed);
            if (named.count(id) == 0 && here) {
                ids.push_back(id);
            }
        }
        for (const std::string& id : ids) {
            named.insert(id);
        }
        if (!WriteListFile(ListFilePath(appDir_, list), ids)) {
            problems.push_back("cannot write " + ListFilePath(appDir_, list));
            ids.clear();  // the list file was moved aside: an empty list
        }
        listed[Index(list)] = std::move(ids);
    }
    return problems;
}

std::vector<std::string> TaskQueue::Load() {
    std::array<std::vector<std::string>, 3> listed;
    std::vector<std::string> problems = RebuildBadLists(listed);
    const TaskList all[] = {TaskList::Downloading, TaskList::Completed, TaskList::Deleted};
    // An id in two lists was being moved when the program stopped (the
    // target is written first): it stays in the later list. The ids of the
    // later lists (usually far fewer than Downloading's) are looked up by
    // view, and each list's lines are judged before any is taken out, which
    // would move the texts the views show.
    std::unordered_map<std::string_view, TaskList> later;
    later.reserve(listed[1].size() + listed[2].size());
    for (TaskList list : {TaskList::Completed, TaskList::Deleted}) {
        for (const std::string& id : listed[Index(list)]) {
            later[id] = list;
        }
    }
    std::array<std::vector<bool>, 3> stays;
    for (TaskList list : all) {
        for (const std::string& id : listed[Index(list)]) {
            auto found = later.empty() ? later.end() : later.find(id);
            stays[Index(list)].push_back(found == later.end() ? list == TaskList::Downloading
                                                              : found->second == list);
        }
    }
    later.clear();
    TaskFileReader reader(appDir_);
    for (TaskList list : all) {
        std::vector<QueuedTask>& tasks = lists_[Index(list)];
        tasks.clear();
        unreadable_[Index(list)].clear();
        whereValid_ = false;
        const std::string path = ListFilePath(appDir_, list);
        std::vector<std::string>& ids = listed[Index(list)];
        size_t kept = 0;
        for (size_t i = 0; i < ids.size(); ++i) {
            if (stays[Index(list)][i] && kept++ != i) {
                ids[kept - 1] = std::move(ids[i]);
            }
        }
        if (kept < ids.size()) {
            ids.resize(kept);
            if (!WriteListFile(path, ids)) {
                problems.push_back("cannot write " + path);
            }
        }
        // Sized once: grown as it fills, a list of 100,000 tasks held the old
        // and the new array at once, half again as much memory as the tasks.
        tasks.reserve(ids.size());
        for (std::string& id : ids) {
            QueuedTask& task = tasks.emplace_back();
            if (!reader.Take(id, task)) {
                tasks.pop_back();
                unreadable_[Index(list)].push_back({id, tasks.empty() ? "" : tasks.back().Id});
                continue;
            }
            if (task.IsComplete() && task.State != TaskState::Completed) {
                task.State = TaskState::Completed;
                TaskProgressRecord record = task.Record();
                record.State = IntToText(StoredState(TaskState::Completed));
                (void)WriteProgress(record, ProgressFilePath(appDir_, task.Id));
                task.SetRecord(record);
            }
        }
        ids = {};
        for (ITaskQueueListener* l : listeners_) {
            l->OnListReset(list);
        }
    }
    return problems;
}

QueuedTask* TaskQueue::FindMutable(const std::string& id, TaskList* list, int* index) {
    if (!whereValid_) {
        where_.clear();
        where_.reserve(lists_[0].size() + lists_[1].size() + lists_[2].size());
        for (TaskList each : {TaskList::Downloading, TaskList::Completed, TaskList::Deleted}) {
            const std::vector<QueuedTask>& tasks = lists_[Index(each)];
            for (size_t i = 0; i < tasks.size(); ++i) {
                where_.emplace(tasks[i].Id, std::make_pair(each, static_cast<int>(i)));
            }
        }
        whereValid_ = true;
    }
    auto it = where_.find(id);
    if (it == where_.end()) {
        return nullptr;
    }
    *list = it->second.first;
    *index = it->second.second;
    return &lists_[Index(*list)][static_cast<size_t>(*index)];
}

void TaskQueue::Appended(TaskList list) {
    const std::vector<QueuedTask>& tasks = lists_[Index(list)];
    if (whereValid_) {
        where_.emplace(tasks.back().Id, std::make_pair(list, static_cast<int>(tasks.size()) - 1));
    }
}

const QueuedTask* TaskQueue::Find(const std::string& id) const {
    TaskList list;
    int index;
    return const_cast<TaskQueue*>(this)->FindMutable(id, &list, &index);
}

std::optional<TaskList> TaskQueue::ListOf(const std::string& id) const {
    TaskList list;
    int index;
    if (const_cast<TaskQueue*>(this)->FindMutable(id, &list, &index) == nullptr) {
        return std::nullopt;
    }
    return list;
}

int TaskQueue::IndexOf(TaskList list, const std::string& id) const {
    TaskList found;
    int index;
    if (const_cast<TaskQueue*>(this)->FindMutable(id, &found, &index) == nullptr || found != list) {
        return -1;
    }
    return index;
}

std::vector<std::string> TaskQueue::UnreadableIds(TaskList list) const {
    std::vector<std::string> ids;
    for (const UnreadableLine& line : unreadable_[Index(list)]) {
        ids.push_back(line.Id);
    }
    return ids;
}

std::optional<TaskList> TaskQueue::UnreadableListOf(const std::string& id) const {
    for (TaskList list : {TaskList::Downloading, TaskList::Completed, TaskList::Deleted}) {
        for (const UnreadableLine& line : unreadable_[Index(list)]) {
            if (line.Id == id) {
                return list;
            }
        }
    }
    return std::nullopt;
}

std::vector<std::string> TaskQueue::ListLines(TaskList list) const {
    const std::vector<UnreadableLine>& lines = unreadable_[Index(list)];
    std::vector<std::string> ids;
    ids.reserve(lists_[Index(list)].size() + lines.size());
    if (lines.empty()) {
        for (const QueuedTask& task : lists_[Index(list)]) {
            ids.push_back(task.Id);
        }
        return ids;
    }
    std::unordered_map<std::string, std::vector<const std::string*>> after;
    for (const UnreadableLine& line : lines) {
        after[line.After].push_back(&line.Id);
    }
    auto placeAfter = [&](const std::string& id) {
        auto it = after.find(id);
        if (it != after.end()) {
            for (const std::string* held : it->second) {
                ids.push_back(*held);
            }
            after.erase(it);
        }
    };
    placeAfter("");
    for (const QueuedTask& task : lists_[Index(list)]) {
        ids.push_back(task.Id);
        placeAfter(task.Id);
    }
    // The task they followed has left the list: they go to its end, in
    // their order.
    for (const UnreadableLine& line : lines) {
        if (after.count(line.After) > 0) {
            ids.push_back(line.Id);
        }
    }
    return ids;
}

bool TaskQueue::WriteList(TaskList list, Durability durability) const {
    if (batchDepth_ > 0) {
        const_cast<TaskQueue*>(this)->batchChanges_[Index(list)] |= batchWrite;
        return true;
    }
    return WriteListFile(ListFilePath(appDir_, list), ListLines(list), durability);
}

void TaskQueue::KeepUnreadableInPlace(TaskList list, int index) {
    const std::vector<QueuedTask>& tasks = lists_[Index(list)];
    const std::string& id = tasks[static_cast<size_t>(index)].Id;
    for (UnreadableLine& line : unreadable_[Index(list)]) {
        if (line.After == id) {
            line.After = index > 0 ? tasks[static_cast<size_t>(index) - 1].Id : "";
        }
    }
}

// An unreadable line out of its list (to nullopt: gone), written as a task
// move is: the target first.
bool TaskQueue::MoveUnreadable(const std::string& id, std::optional<TaskList> to) {
    std::optional<TaskList> from = UnreadableListOf(id);
    if (!from || (to && Index(*to) <= Index(*from))) {
        return false;
    }
    std::vector<UnreadableLine>& source = unreadable_[Index(*from)];
    auto it = std::find_if(source.begin(), source.end(),
                           [&](const UnreadableLine& line) { return line.Id == id; });
    if (to) {
        std::vector<UnreadableLine>& target = unreadable_[Index(*to)];
        const std::vector<QueuedTask>& tasks = lists_[Index(*to)];
        target.push_back({id, tasks.empty() ? "" : tasks.back().Id});
        if (!WriteList(*to)) {
            target.pop_back();
            return false;
        }
    }
    UnreadableLine line = *it;
    const auto at = source.erase(it);
    if (!WriteList(*from)) {
        if (!to) {
            source.insert(at, std::move(line));
        }
        return false;
    }
    return true;
}

bool TaskQueue::Append(TaskList list, const std::string& id, bool writeList,
                       Durability durability) {
    if (ListOf(id)) {
        return false;  // one id never stands in two lists
    }
    std::optional<QueuedTask> task = ReadTask(id);
    if (!task) {
        return false;
    }
    std::vector<QueuedTask>& tasks = lists_[Index(list)];
    tasks.push_back(std::move(*task));
    Appended(list);
    if (writeList && !WriteList(list, durability)) {
        tasks.pop_back();
        whereValid_ = false;
        return false;
    }
    if (!Batched(list, batchRows)) {
        for (ITaskQueueListener* l : listeners_) {
            l->OnTaskInserted(list, static_cast<int>(tasks.size()) - 1);
        }
    }
    return true;
}

bool TaskQueue::AppendMany(TaskList list, const std::vector<std::string>& ids) {
    std::vector<QueuedTask>& tasks = lists_[Index(list)];
    const size_t first = tasks.size();
    for (const std::string& id : ids) {
        std::optional<QueuedTask> task = ListOf(id) ? std::nullopt : ReadTask(id);
        if (task) {
            tasks.push_back(std::move(*task));
            Appended(list);
        }
    }
    if (tasks.size() == first) {
        return true;
    }
    if (batchDepth_ > 0) {
        Batched(list, batchRows | batchWrite);
        return true;
    }
    if (!WriteList(list)) {
        tasks.resize(first);
        whereValid_ = false;
        return false;
    }
    for (ITaskQueueListener* l : listeners_) {
        l->OnListChanged(list, false);
    }
    return true;
}

bool TaskQueue::RemoveMany(const std::vector<std::string>& ids) {
    return MoveMany(ids, std::nullopt);
}

bool TaskQueue::MoveManyToList(const std::vector<std::string>& ids, TaskList to) {
    return MoveMany(ids, to);
}

// One pass per list: the leaving tasks are marked, kept aside in the order
// given and the list closed up, so that 10,000 ids cost what one list walk
// costs rather than one walk each.
bool TaskQueue::MoveMany(const std::vector<std::string>& ids, std::optional<TaskList> to) {
    BeginBatch();
    std::unordered_map<std::string, size_t> order;
    std::vector<std::optional<QueuedTask>> leaving(ids.size());
    for (size_t i = 0; i < ids.size(); ++i) {
        TaskList from;
        int index;
        if (FindMutable(ids[i], &from, &index) == nullptr) {
            // A bare line: rare, and moved as one.
            if (UnreadableListOf(ids[i]) && !MoveUnreadable(ids[i], to)) {
                (void)EndBatch();
                return false;
            }
        } else if (!to || Index(*to) > Index(from)) {
            order.emplace(ids[i], i);
        }
    }
    for (TaskList list : {TaskList::Downloading, TaskList::Completed, TaskList::Deleted}) {
        std::vector<QueuedTask>& tasks = lists_[Index(list)];
        size_t kept = 0;
        for (size_t i = 0; i < tasks.size(); ++i) {
            auto it = order.find(tasks[i].Id);
            if (it == order.end()) {
                if (kept != i) {
                    tasks[kept] = std::move(tasks[i]);
                }
                ++kept;
                continue;
            }
            // Lines that followed it now follow the task kept before it.
            for (UnreadableLine& line : unreadable_[Index(list)]) {
                if (line.After == tasks[i].Id) {
                    line.After = kept > 0 ? tasks[kept - 1].Id : "";
                }
            }
            leaving[it->second] = std::move(tasks[i]);
        }
        if (kept != tasks.size()) {
            tasks.resize(kept);
            Batched(list, batchRows | batchWrite);
        }
    }
    if (to) {
        for (std::optional<QueuedTask>& task : leaving) {
            if (task) {
                lists_[Index(*to)].push_back(std::move(*task));
                Batched(*to, batchRows | batchWrite);
            }
        }
    }
    whereValid_ = false;
    return EndBatch();
}

bool TaskQueue::SetOrder(TaskList list, const std::vector<std::string>& ids) {
    std::vector<QueuedTask>& tasks = lists_[Index(list)];
    if (ids.size() != tasks.size()) {
        return false;
    }
    std::unordered_map<std::string, int> oldIndex;
    for (size_t i = 0; i < tasks.size(); ++i) {
        oldIndex.emplace(tasks[i].Id, static_cast<int>(i));
    }
    std::vector<int> newIndex(tasks.size(), -1);
    for (size_t i = 0; i < ids.size(); ++i) {
        auto it = oldIndex.find(ids[i]);
        if (it == oldIndex.end() || newIndex[static_cast<size_t>(it->second)] >= 0) {
            return false;  // not the same tasks
        }
        newIndex[static_cast<size_t>(it->second)] = static_cast<int>(i);
    }
    bool same = true;
    for (size_t i = 0; i < newIndex.size(); ++i) {
        same = same && newIndex[i] == static_cast<int>(i);
    }
    if (same) {
        return true;
    }
    std::vector<QueuedTask> before = std::move(tasks);
    tasks.assign(before.size(), QueuedTask{});
    for (size_t i = 0; i < before.size(); ++i) {
        tasks[static_cast<size_t>(newIndex[i])] = std::move(before[i]);
    }
    whereValid_ = false;
    if (batchDepth_ > 0) {
        Batched(list, batchRows | batchWrite);
        return true;
    }
    if (!WriteList(list)) {
        Load();
        return false;
    }
    for (ITaskQueueListener* l : listeners_) {
        l->OnListReordered(list, newIndex);
    }
    return true;
}

void TaskQueue::BeginBatch() {
    ++batchDepth_;
}

bool TaskQueue::EndBatch() {
    if (batchDepth_ == 0 || --batchDepth_ > 0) {
        return true;
    }
    bool written = true;
    // Progress files first: a list never names a state the disk lost.
    if (batchSync_) {
        batchSync_ = false;
        written = SyncFileSystem(appDir_ + "Tasks/");
    }
    for (TaskList list : {TaskList::Deleted, TaskList::Completed, TaskList::Downloading}) {
        if (written && (batchChanges_[Index(list)] & batchWrite) != 0) {
            written = WriteList(list);
        }
    }
    unsigned changes[3];
    std::copy(std::begin(batchChanges_), std::end(batchChanges_), std::begin(changes));
    std::fill(std::begin(batchChanges_), std::end(batchChanges_), 0u);
    if (!written) {
        Load();
        return false;
    }
    for (TaskList list : {TaskList::Downloading, TaskList::Completed, TaskList::Deleted}) {
        const unsigned change = changes[Index(list)];
        if ((change & (batchRows | batchFields)) != 0) {
            for (ITaskQueueListener* l : listeners_) {
                l->OnListChanged(list, (change & batchRows) == 0);
            }
        }
    }
    return true;
}

bool TaskQueue::Batched(TaskList list, unsigned change) {
    if (batchDepth_ == 0) {
        return false;
    }
    batchChanges_[Index(list)] |= change;
    return true;
}

bool TaskQueue::Remove(const std::string& id) {
    TaskList list;
    int index;
    if (FindMutable(id, &list, &index) == nullptr) {
        return MoveUnreadable(id, std::nullopt);
    }
    std::vector<QueuedTask>& tasks = lists_[Index(list)];
    const std::vector<UnreadableLine> anchors = unreadable_[Index(list)];
    KeepUnreadableInPlace(list, index);
    QueuedTask removed = std::move(tasks[index]);
    tasks.erase(tasks.begin() + index);
    whereValid_ = false;
    if (!WriteList(list)) {
        tasks.insert(tasks.begin() + index, std::move(removed));
        unreadable_[Index(list)] = anchors;
        return false;
    }
    if (!Batched(list, batchRows)) {
        for (ITaskQueueListener* l : listeners_) {
            l->OnTaskRemoved(list, index, id);
        }
    }
    return true;
}

bool TaskQueue::MoveToList(const std::string& id, TaskList to, Durability durability) {
    TaskList from;
    int index;
    QueuedTask* task = FindMutable(id, &from, &index);
    if (task == nullptr) {
        return MoveUnreadable(id, to);
    }
    if (Index(to) <= Index(from)) {
        return false;
    }
    std::vector<QueuedTask>& target = lists_[Index(to)];
    target.push_back(*task);
    whereValid_ = false;
    if (!WriteList(to, durability)) {
        target.pop_back();
        return false;
    }
    std::vector<QueuedTask>& source = lists_[Index(from)];
    KeepUnreadableInPlace(from, index);
    source.erase(source.begin() + index);
    // Should this write fail, the file still names id beside the target,
    // which Load resolves as this move does.
    const bool written = WriteList(from, durability);
    Batched(to, batchRows);
    if (!Batched(from, batchRows)) {
        for (ITaskQueueListener* l : listeners_) {
            l->OnTaskRemoved(from, index, id);
            l->OnTaskInserted(to, static_cast<int>(target.size()) - 1);
        }
    }
    return written;
}

bool TaskQueue::Move(const std::string& id, int to) {
    TaskList list;
    int from;
    if (FindMutable(id, &list, &from) == nullptr) {
        return false;
    }
    std::vector<QueuedTask>& tasks = lists_[Index(list)];
    to = std::clamp(to, 0, static_cast<int>(tasks.size()) - 1);
    if (to == from) {
        return true;
    }
    QueuedTask moved = std::move(tasks[from]);
    tasks.erase(tasks.begin() + from);
    tasks.insert(tasks.begin() + to, std::move(moved));
    whereValid_ = false;
    if (!WriteList(list)) {
        Load();
        return false;
    }
    if (!Batched(list, batchRows)) {
        for (ITaskQueueListener* l : listeners_) {
            l->OnTaskMoved(list, from, to);
        }
    }
    return true;
}

bool TaskQueue::Swap(const std::string& a, const std::string& b) {
    TaskList listA;
    TaskList listB;
    int i;
    int j;
    if (FindMutable(a, &listA, &i) == nullptr || FindMutable(b, &listB, &j) == nullptr ||
        listA != listB) {
        return false;
    }
    if (i > j) {
        std::swap(i, j);
    }
    std::vector<QueuedTask>& tasks = lists_[Index(listA)];
    std::swap(tasks[i], tasks[j]);
    whereValid_ = false;
    if (!WriteList(listA)) {
        std::swap(tasks[i], tasks[j]);
        return false;
    }
    // As moves a list model can follow one by one: i to j, then the old j
    // (now one place up) to i.
    if (!Batched(listA, batchRows)) {
        for (ITaskQueueListener* l : listeners_) {
            l->OnTaskMoved(listA, i, j);
            if (j - 1 != i) {
                l->OnTaskMoved(listA, j - 1, i);
            }
        }
    }
    return true;
}

bool TaskQueue::SetState(const std::string& id, TaskState state) {
    TaskList list;
    int index;
    QueuedTask* task = FindMutable(id, &list, &index);
    const std::string path = ProgressFilePath(appDir_, id);
    if (!FileExists(path)) {
        return false;  // writing it would make a file of defaults out of nothing
    }
    // "Running" is not flushed: the task's own saves rewrite the record at
    // once and its end flushes it, and start-up turns a stored "running"
    // into stopped, which is what a crash that lost the word leaves anyway.
    // Beside a busy disk each flush of a start cost up to a second.
    // In a batch the flush is one for all, at its end.
    const Durability durability =
        state == TaskState::Running || batchDepth_ > 0 ? Durability::Deferred : Durability::Now;
    batchSync_ = batchSync_ || (batchDepth_ > 0 && state != TaskState::Running);
    const std::string stored = IntToText(StoredState(state));
    // The line that said why the last run failed says nothing of a new one.
    auto change = [&](TaskProgressRecord& r) {
        r.State = stored;
        if (state == TaskState::Running) {
            r.LastError.clear();
        }
    };
    bool written = true;
    if (task == nullptr) {
        written = UpdateProgress(path, change, durability);
    } else if (TaskProgressRecord changed = task->Record();
               changed.State != stored ||
               (state == TaskState::Running && !changed.LastError.empty())) {
        // The record is the file's content: no need to read it back.
        change(changed);
        written = WriteProgress(changed, path, durability);
        if (written) {
            task->SetRecord(changed);
        }
    }
    if (task != nullptr && task->State != state) {
        task->State = state;
        Changed(list, index, fieldState);
    }
    return written;
}

void TaskQueue::SetProgress(const std::string& id, const std::string& name, int64_t size,
                            int64_t pos, int bestPercent, double speedKb) {
    TaskList list;
    int index;
    QueuedTask* task = FindMutable(id, &list, &index);
    if (task == nullptr) {
        return;
    }
    unsigned fields = fieldProgress | fieldSpeed;
    if (task->Name != name) {
        task->Name = name;
        fields |= fieldName;
    }
    task->Size = std::max<int64_t>(size, 0);
    task->Pos = pos;
    task->PosText = IntToText(pos);
    task->BestPercent = bestPercent;
    task->SpeedKb = speedKb;
    Changed(list, index, fields);
}

void TaskQueue::SetCompleted(const std::string& id, int64_t size, int64_t pos) {
    TaskList list;
    int index;
    QueuedTask* task = FindMutable(id, &list, &index);
    if (task == nullptr) {
        return;
    }
    task->Size = std::max<int64_t>(size > 0 ? size : pos, 0);
    task->Pos = std::max<int64_t>(pos, 0);
    task->PosText = IntToText(task->Pos);
    task->BestPercent = -1;  // from Pos and Size, as a load computes it
    task->SpeedKb = -1;
    Changed(list, index, fieldProgress | fieldSpeed);
}

void TaskQueue::SetSpeed(const std::string& id, double speedKb) {
    TaskList list;
    int index;
    if (QueuedTask* task = FindMutable(id, &list, &index)) {
        task->SpeedKb = speedKb;
        Changed(list, index, fieldSpeed);
    }
}

void TaskQueue::Adopt(const std::string& id, const TaskProgressRecord* record) {
    if (record == nullptr) {
        Refresh(id);
        return;
    }
    TaskList list;
    int index;
    QueuedTask* task = FindMutable(id, &list, &index);
    if (task == nullptr) {
        return;
    }
    task->SetRecord(*record);
    // The state follows from the task's end (SetState, SetCompleted).
    if (task->Name != record->LocalFileName) {
        task->Name = record->LocalFileName;
        Changed(list, index, fieldName);
    }
}

std::string TaskQueue::DownloadingTaskOfUrl(std::string_view url) const {
    for (const QueuedTask& task : Tasks(TaskList::Downloading)) {
        if (EqualsNoCase(PackedBaseUrl(task.PackedRecord), url)) {
            return task.Id;
        }
    }
    return "";
}

bool TaskQueue::IsTaskRunning(const std::string& id) const {
    const QueuedTask* task = Find(id);
    return task != nullptr && task->State == TaskState::Running;
}

void TaskQueue::Refresh(const std::string& id) {
    TaskList list;
    int index;
    QueuedTask* task = FindMutable(id, &list, &index);
    std::optional<QueuedTask> read = ReadTask(id);
    if (task == nullptr || !read) {
        return;
    }
    task->PackedRecord = std::move(read->PackedRecord);
    unsigned fields = 0;
    if (task->Name != read->Name || task->Dir != read->Dir) {
        task->Name = read->Name;
        task->Dir = read->Dir;
        fields |= fieldName;
    }
    if (task->Category != read->Category) {
        task->Category = read->Category;
        fields |= fieldCategory;
    }
    if (task->State != read->State) {
        task->State = read->State;
        fields |= fieldState;
    }
    if (fields != 0) {
        Changed(list, index, fields);
    }
}

void TaskQueue::Changed(TaskList list, int index, unsigned fields) {
    if (Batched(list, batchFields)) {
        return;
    }
    for (ITaskQueueListener* l : listeners_) {
        l->OnTaskChanged(list, index, fields);
    }
}

void TaskQueue::AddListener(ITaskQueueListener* listener) {
    listeners_.push_back(listener);
}

void TaskQueue::RemoveListener(ITaskQueueListener* listener) {
    listeners_.erase(std::remove(listeners_.begin(), listeners_.end(), listener), listeners_.end());
}

}  // namespace vardane
