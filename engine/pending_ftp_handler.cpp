// Until the FTP worker is built in, an ftp:// task fails cleanly at its
// first step instead of failing to link. Removed from the build as soon as
// engine/ftp_worker.cpp exists.
#include "engine/worker.h"
#include "task/download_task.h"

namespace vardane {

namespace {

class CNoFtpHandler : public IProtocolHandler {
  public:
    int ConnectionCount() const override { return 3; }
    bool PreparesOnResume() const override { return false; }
    void ConnectStep(CWorker& w) override { Fail(w); }
    void EventStep(CWorker& w) override { Fail(w); }

  private:
    static void Fail(CWorker& w) {
        w.task.SetState(stateError);
        w.rec.iState = tsStop;
    }
};

}  // namespace

std::unique_ptr<IProtocolHandler> MakeFtpHandler() {
    return std::make_unique<CNoFtpHandler>();
}

}  // namespace vardane
