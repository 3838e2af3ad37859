// The total speed and the speed limit.
#include "app/speed_display.h"

#include <algorithm>
#include <mutex>

#include "app/main_frame_host.h"
#include "app/task_rows.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "settings/app_context.h"
#include "settings/registry_paths.h"
#include "settings/setting_value.h"

namespace vardane {

SpeedDisplay::SpeedDisplay(AppContext& ctx, IMainFrameHost& host) : ctx_(ctx), host_(host) {}

void SpeedDisplay::Load() {
    int64_t limit = 1024;
    bool limitOn = false;
    {
        std::lock_guard<std::mutex> lock(ctx_.SpeedLock);
        limit = ctx_.SpeedLimitKB;
        limitOn = ctx_.settings.SpeedLimit;
    }
    sliderValue_ = static_cast<int>(limit);
    SetSpeedLimitChecked(limitOn);
}

void SpeedDisplay::Reload() {
    int64_t limit = 1024;
    bool limitOn = false;
    {
        std::lock_guard<std::mutex> lock(ctx_.SpeedLock);
        RegistryKey key(ctx_.registry);
        key.Open(RegRoot::CurrentUser, GroupKeyPath("Connection"), true);
        limitOn = SettingFlag(key.QueryString("SpeedLimit"));
        limit = std::clamp<int64_t>(TextToInt(key.QueryString("SpeedLimitKBSec")), 1, 1024);
    }
    sliderValue_ = static_cast<int>(limit);
    SetSpeedLimitChecked(limitOn);
}

void SpeedDisplay::SetSpeedLimitChecked(bool checked) {
    {
        std::lock_guard<std::mutex> lock(ctx_.SpeedLock);
        ctx_.settings.SpeedLimit = checked;
        ctx_.SpeedLimitKB = checked ? sliderValue_ : 1024;
    }
    speedLimitChecked_ = checked;
    speedLimitCaption_ = IntToText(sliderValue_) + " KB/s";
    host_.OnModelChanged(partSpeedLimit);
}

void SpeedDisplay::OnSpeedLimitValue(int value) {
    if (value <= 0) {
        return;
    }
    sliderValue_ = std::min(value, 1024);
    bool taken = false;
    {
        std::lock_guard<std::mutex> lock(ctx_.SpeedLock);
        if (ctx_.settings.SpeedLimit && value > 0) {
            ctx_.SpeedLimitKB = sliderValue_;
            taken = true;
        }
    }
    if (taken) {
        speedLimitCaption_ = IntToText(sliderValue_) + " KB/s";
        host_.OnModelChanged(partSpeedLimit);
    }
}

void SpeedDisplay::WriteSpeedLimitSettings() {
    bool limitOn = false;
    int64_t limit = 1024;
    {
        std::lock_guard<std::mutex> lock(ctx_.SpeedLock);
        limitOn = ctx_.settings.SpeedLimit;
        limit = ctx_.SpeedLimitKB;
    }
    RegistryKey key(ctx_.registry);
    key.Open(RegRoot::CurrentUser, GroupKeyPath("Connection"), true);
    key.SetString("SpeedLimit", limitOn ? "1" : "0");
    key.SetString("SpeedLimitKBSec", IntToText(limit));
}

void SpeedDisplay::OnSpeedTick() {
    double average = 0;
    {
        std::lock_guard<std::mutex> lock(ctx_.SpeedLock);
        average = ctx_.AvgSpeedKB;
    }
    totalSpeedText_ = vardane::TotalSpeedText(average);
    host_.OnModelChanged(partTotalSpeed);
}

}  // namespace vardane
