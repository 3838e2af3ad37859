#include "settings/settings_startup.h"

#include "platform/data_root.h"
#include "platform/registry.h"
#include "settings/app_context.h"
#include "settings/default_settings.h"
#include "settings/load_settings.h"

namespace vardane {

namespace {

// Holds both stores in one batch while the start-up pass sets many values.
class BatchScope {
  public:
    explicit BatchScope(Registry& registry) : registry_(registry) {
        registry_.Store(RegRoot::LocalMachine).BeginBatch();
        registry_.Store(RegRoot::CurrentUser).BeginBatch();
    }
    ~BatchScope() {
        registry_.Store(RegRoot::CurrentUser).EndBatch();
        registry_.Store(RegRoot::LocalMachine).EndBatch();
    }
    BatchScope(const BatchScope&) = delete;
    BatchScope& operator=(const BatchScope&) = delete;

  private:
    Registry& registry_;
};

}  // namespace

void RunSettingsStartup(AppContext& ctx) {
    ctx.lang.SetFolders(LanguageFolders(ctx.root));
    BatchScope batch(ctx.registry);
    WriteDefaultSettings(ctx);
    LoadSettings(ctx);
}

}  // namespace vardane
