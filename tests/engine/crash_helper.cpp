// Runs one task of a data root until it is killed: the process side of the
// crash test (the test kills it with SIGKILL part-way, so only what is on
// disk survives).
//   engine_crash_helper <data root> <task id>
#include <chrono>
#include <cstdio>
#include <thread>

#include "engine/speed_limiter.h"
#include "engine/worker.h"
#include "settings/app_context.h"
#include "settings/default_settings.h"
#include "settings/load_settings.h"

int main(int argc, char** argv) {
    using namespace vardane;
    if (argc != 3) {
        std::fprintf(stderr, "usage: engine_crash_helper <data root> <task id>\n");
        return 2;
    }
    AppContext ctx(DataRoot{argv[1], ""});
    WriteDefaultSettings(ctx);
    LoadSettings(ctx);
    {
        std::lock_guard lock(ctx.SpeedLock);
        ctx.settings.SpeedLimit = false;
        ctx.settings.MinBlock = 64 * 1024;
        ctx.settings.RetryWaitSec = 1;
    }
    TaskSlot slot(ctx);
    if (!StartTask(slot, argv[2])) {
        return 1;
    }
    SpeedSampler sampler;
    while (true) {  // the one-second steps, faster
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        sampler.Step(ctx, nullptr);
        if (slot.task.Active) {
            TaskTick(slot.task);
        }
    }
}
