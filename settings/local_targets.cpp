#include "settings/local_targets.h"

#include <algorithm>
#include <functional>

#include "platform/text.h"

namespace vardane {

uint64_t LocalTargets::PathKey(std::string_view dir, std::string_view name) {
    std::string path = ToLowerAscii(dir);
    if (!path.empty() && path.back() != '/') {
        path += '/';
    }
    path += ToLowerAscii(name);
    return std::hash<std::string>{}(path);
}

uint64_t LocalTargets::IdKey(std::string_view id) {
    return std::hash<std::string_view>{}(id);
}

void LocalTargets::Publish(const std::vector<Listed>& tasks) {
    std::vector<std::pair<uint64_t, uint64_t>> listed;
    listed.reserve(tasks.size());
    for (const Listed& task : tasks) {
        if (!task.name.empty()) {
            listed.emplace_back(PathKey(task.dir, task.name), IdKey(task.id));
        }
    }
    std::sort(listed.begin(), listed.end());
    std::lock_guard lock(lock_);
    listed_.swap(listed);
}

void LocalTargets::Claim(const std::string& id, std::string_view path) {
    std::lock_guard lock(lock_);
    claimed_[id] = PathKey("", path);
}

void LocalTargets::Release(const std::string& id) {
    std::lock_guard lock(lock_);
    claimed_.erase(id);
}

bool LocalTargets::TakenByOther(std::string_view path, const std::string& ownId) const {
    const uint64_t key = PathKey("", path);
    const uint64_t own = IdKey(ownId);
    std::lock_guard lock(lock_);
    auto it = std::lower_bound(listed_.begin(), listed_.end(), std::make_pair(key, uint64_t{0}));
    for (; it != listed_.end() && it->first == key; ++it) {
        if (it->second != own) {
            return true;
        }
    }
    for (const auto& [id, claimedKey] : claimed_) {
        if (claimedKey == key && id != ownId) {
            return true;
        }
    }
    return false;
}

}  // namespace vardane
