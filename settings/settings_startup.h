// The settings part of program start-up.
#pragma once

namespace vardane {

struct AppContext;

// Points ctx.lang at the language folders of the data root, then runs
// WriteDefaultSettings and LoadSettings as one batch of the settings store
// (each store file is written once). Afterwards the record is filled and
// ctx.lang looks texts up in the current language.
void RunSettingsStartup(AppContext& ctx);

}  // namespace vardane
