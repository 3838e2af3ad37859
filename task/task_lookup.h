// Questions about the tasks that exist, answered by whoever holds them in
// memory (the task queue), so that a dialog or a command never learns them
// by reading task files.
#pragma once

#include <string>
#include <string_view>

namespace vardane {

class ITaskLookup {
  public:
    virtual ~ITaskLookup() = default;
    // The id of the task of the Downloading list created with url (its
    // BaseURL, case ignored); "" when there is none.
    virtual std::string DownloadingTaskOfUrl(std::string_view url) const = 0;
    // Whether task id is running now.
    virtual bool IsTaskRunning(const std::string& id) const = 0;
};

}  // namespace vardane
