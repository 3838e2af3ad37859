// A download task against a scripted FTP server, for the engine tests that
// decide what the server answers.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/engine/engine_harness.h"
#include "tests/engine/scripted_ftp.h"
#include "tests/support/sha256.h"

namespace vardane::test {

class ScriptedFtpTask : public ::testing::Test {
  protected:
    // Runs a task of threads connections (logging in with userInfo) against a
    // server of file answering as options say; the task's final state.
    std::optional<TaskState> Run(const std::string& file, const ScriptOptions& options, int threads,
                                 const std::string& userInfo = "") {
        file_ = file;
        server_ = std::make_unique<ScriptedFtp>(file, options);
        id = h.AddTask(server_->Url(userInfo), threads);
        return h.Run(slot, id);
    }
    bool FileArrived() { return Sha256OfFile(h.DownloadDir + "file.bin") == Sha256OfBytes(file_); }
    std::vector<std::string> Commands() { return server_->Commands(); }
    ScriptedFtp& Server() { return *server_; }

    EngineHarness h;
    TaskSlot slot{h.ctx};
    std::string id;

  private:
    std::string file_;
    std::unique_ptr<ScriptedFtp> server_;
};

}  // namespace vardane::test
