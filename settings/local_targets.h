// Where the tasks of the Downloading list will write (folder and name, ASCII
// case ignored), so that a worker picking a free local name never takes the
// name of another task's file: two tasks aiming at one name would share one
// temporary file. The window thread publishes what the task queue holds; a
// worker claims the name it picks for as long as its run lasts, since the
// queue hears of that name only afterwards.
//
// Paths are kept as 64-bit hashes, so that 100,000 listed tasks cost a few
// hundred kilobytes. Two paths with one hash can only make a name look taken
// (the download then gets a numbered name), never make a taken name look
// free.
//
// Threading: any thread. The lock is a leaf: nothing is called under it.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace vardane {

class LocalTargets {
  public:
    // One listed task: its id and the path it aims at ("" for none yet).
    struct Listed {
        std::string_view id;
        std::string_view dir;  // with or without a trailing slash
        std::string_view name;
    };
    // Replaces what the queue lists (the whole Downloading list).
    void Publish(const std::vector<Listed>& tasks);
    // A worker of task id picked path; held until Release(id).
    void Claim(const std::string& id, std::string_view path);
    void Release(const std::string& id);
    // Whether a task other than ownId aims at path.
    bool TakenByOther(std::string_view path, const std::string& ownId) const;

  private:
    static uint64_t PathKey(std::string_view dir, std::string_view name);
    static uint64_t IdKey(std::string_view id);

    mutable std::mutex lock_;
    // (path key, id key), sorted.
    std::vector<std::pair<uint64_t, uint64_t>> listed_;
    // task id -> path key.
    std::unordered_map<std::string, uint64_t> claimed_;
};

}  // namespace vardane
