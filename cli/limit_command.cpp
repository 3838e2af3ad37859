// vardane-cli limit: the global speed limit, set as the status bar's check
// box and slider set it, and stored at once as they store it at the close.
//   limit          "on, <KB> KB/s" or "off"
//   limit off      the check box cleared: no limit (1024 KB/s is stored)
//   limit KB       the slider at KB (1..1024), then the box checked
#include <CLI/CLI.hpp>
#include <memory>

#include "app/command_io.h"
#include "app/main_frame.h"
#include "app/owner_runtime.h"
#include "cli/task_command.h"
#include "platform/text.h"

namespace vardane {

namespace {

constexpr int kMaxLimitKB = 1024;  // the slider's range is 1..1024 KB/s

class LimitCommand : public TaskCommand {
  public:
    CLI::App* Register(CLI::App& app) override {
        CLI::App* cmd = app.add_subcommand(
            "limit", "Show the global speed limit, switch it off, or set it in KB/s");
        cmd->add_option("VALUE", value_, "off, or the limit in KB/s (1 to 1024)");
        cmd->footer(
            "A running vardane-cli on the same data root takes the new limit at once.\n"
            "Exit status: 0 done, 2 bad usage.");
        return cmd;
    }

    std::optional<int> CheckUsage(CliIo& io) override {
        if (!value_ || *value_ == "off") {
            return std::nullopt;
        }
        int64_t kb = -1;
        bool digits = !value_->empty() && value_->size() <= 9 &&
                      value_->find_first_not_of("0123456789") == std::string::npos;
        if (digits) {
            kb = TextToInt(*value_);
        }
        if (kb < 1 || kb > kMaxLimitKB) {
            io.Err("vardane-cli: the limit is 'off' or a number of KB/s from 1 to " +
                   IntToText(kMaxLimitKB) + ": " + *value_ +
                   "\nRun with --help for more information.\n");
            return kStatusUsage;
        }
        kb_ = static_cast<int>(kb);
        return std::nullopt;
    }

    std::optional<int> Run(CliEnv& env) override {
        MainFrame& frame = env.rt.Frame();
        if (value_) {
            if (*value_ == "off") {
                frame.Speed().SetSpeedLimitChecked(false);
            } else {
                // The slider first (it moves even while the box is clear),
                // then the box, which takes the slider's value.
                frame.Speed().OnSpeedLimitValue(kb_);
                frame.Speed().SetSpeedLimitChecked(true);
            }
            frame.Speed().WriteSpeedLimitSettings();
            return kStatusOk;
        }
        env.io.Out(frame.Speed().SpeedLimitChecked()
                       ? "on, " + IntToText(frame.Speed().SpeedLimitSliderValue()) + " KB/s\n"
                       : "off\n");
        return kStatusOk;
    }

  private:
    std::optional<std::string> value_;
    int kb_ = 0;
};

}  // namespace

std::unique_ptr<TaskCommand> MakeLimitCommand() {
    return std::make_unique<LimitCommand>();
}

}  // namespace vardane
