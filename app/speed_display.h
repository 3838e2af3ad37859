// The speed display: the total speed of all tasks, and the speed limit's
// check box, slider and caption with the limit the workers keep to.
//
// Threading: every member runs on the window thread.
#pragma once

#include <string>

namespace vardane {

struct AppContext;
class IMainFrameHost;

class SpeedDisplay {
  public:
    SpeedDisplay(AppContext& ctx, IMainFrameHost& host);

    // Takes the flag and the limit the settings hold (start-up).
    void Load();
    // Takes the flag and the limit stored in the registry: a loaded record
    // leaves the speed limit alone (the config command).
    void Reload();
    // The check box (command 9000).
    void SetSpeedLimitChecked(bool checked);
    // The slider moved to value.
    void OnSpeedLimitValue(int value);
    // Stores the flag and the limit in use (SpeedLimit, SpeedLimitKBSec), as
    // the close does.
    void WriteSpeedLimitSettings();
    // The sampler measured the total speed.
    void OnSpeedTick();

    const std::string& TotalSpeedText() const { return totalSpeedText_; }
    bool SpeedLimitChecked() const { return speedLimitChecked_; }
    int SpeedLimitSliderValue() const { return sliderValue_; }
    const std::string& SpeedLimitCaption() const { return speedLimitCaption_; }

  private:
    AppContext& ctx_;
    IMainFrameHost& host_;
    std::string totalSpeedText_ = "0.0 KB/s";
    bool speedLimitChecked_ = false;
    int sliderValue_ = 1024;
    std::string speedLimitCaption_;
};

}  // namespace vardane
