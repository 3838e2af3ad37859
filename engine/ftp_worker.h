// The FTP side of a download worker: the command sequence on the control
// connection (slot 0), passive and active data connections (slot 1, and the
// active-mode listener on slot 2), the positioning of each block with REST
// and the receive paths. One handler object per worker thread; the frame
// (engine/worker.h) runs the loop, the retry wait and the block bookkeeping.
//
// Thread 0 alone probes the server: login, "REST 100", the listing (logged
// only), SIZE, then the local file and the blocks, then the other threads.
// Every block is fetched over a login of its own: REST <offset>, RETR, and
// QUIT once the block is finished.
#pragma once

#include <netinet/in.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/ftp_reply.h"
#include "engine/ftp_session.h"
#include "engine/worker.h"
#include "net/event_socket.h"
#include "settings/proxy_record.h"

namespace vardane {

// The FTP worker's states, each naming the reply (or data) the worker waits
// for. They are kept in the thread record's state field beside the frame's
// states, with the frame's own values where the frame acts on them
// (Disconnect, Reconnect, Stop) or shows them.
enum class FtpState : int {
    Disconnect = tsDisconnect,
    Connecting = tsConnecting,
    Connected = tsConnected,  // greeting
    UserSent = 4,             // reply to USER
    PassSent = 7,             // reply to PASS
    MdtmSent = 8,             // reply to MDTM after thread 0's first SIZE
    RestProbeSent = 9,        // reply to "REST 100"
    RestResetSent = 10,       // reply to "REST 0" after the probe
    ListTypeSent = 11,        // reply to the TYPE for the listing
    ListPasvSent = 12,        // reply to PASV before LIST
    ListPortSent = 13,        // reply to PORT before LIST
    SizeRestSent = 14,        // reply to "REST 0" before SIZE
    Listing = 15,             // listing data and LIST's reply
    TypeBinarySent = 16,      // reply to "TYPE I"
    SizeSent = 17,            // reply to SIZE
    RestSent = 18,            // reply to "REST <block offset>"
    PasvSent = 19,            // reply to PASV before the transfer
    PortSent = 20,            // reply to PORT before the transfer
    RetrSent = 21,            // file data on the data connection
    Reconnect = tsReconnect,
    Receiving = tsReceiving,
    Stop = tsStop,
};

class CFtpHandler : public IProtocolHandler {
  public:
    int ConnectionCount() const override { return kConnectionSlots; }
    bool PreparesOnResume() const override { return false; }
    void ConnectStep(CWorker& w) override;
    void EventStep(CWorker& w) override;

  private:
    static FtpState StateOf(const CWorker& w) { return static_cast<FtpState>(w.rec.iState); }
    static void Enter(CWorker& w, FtpState state) { w.rec.iState = static_cast<int>(state); }

    // What a reply line handler tells the line loop.
    enum class LineResult { Next, Stop };

    const ProxyRecord& Proxy() const { return session_->Server().proxy; }

    // ftp_worker.cpp: events and the control connection.
    void OnEvents(CWorker& w, int slot, const NetworkEvents& events);
    bool OnConnectEvent(CWorker& w, int slot, const NetworkEvents& events);
    void OnControlReply(CWorker& w);
    LineResult OnReplyLine(CWorker& w, const std::string& line, const std::string& code,
                           std::string& pending);
    LineResult OnLoginReply(CWorker& w, const std::string& code, std::string& pending);
    LineResult OnRestProbeReply(CWorker& w, const std::string& code, std::string& pending);
    LineResult OnTransferReply(CWorker& w, const std::string& line, const std::string& code,
                               std::string& pending);
    LineResult OnSizeReply(CWorker& w, const std::string& line);
    LineResult OnMdtmReply(CWorker& w, const std::string& line, const std::string& code);
    LineResult OnSizeKnown(CWorker& w, int64_t size, const std::string& modTime);
    LineResult OnSizeUnknown(CWorker& w);
    void StartStream(CWorker& w);
    void OnListingReply(CWorker& w, const std::string& code);
    void OnRetrReply(CWorker& w, const std::string& code);
    void FinishTransfer(CWorker& w);
    void CheckStall(CWorker& w, FtpState stateBefore);
    bool CheckVersionUnchanged(CWorker& w, int64_t size, const std::string& modTime);
    bool RangeStart(CWorker& w);
    bool FTPCheckBlock(CWorker& w);
    void FTPSetFilePos(CWorker& w, int64_t offset);
    void Fail550(CWorker& w);

    // ftp_data.cpp: the data connection and the receive paths.
    bool OpenDataPath(CWorker& w);
    bool OnDataPathReply(CWorker& w, const std::string& line, const std::string& code);
    void OnAccept(CWorker& w, const NetworkEvents& events);
    void OnDataClosed(CWorker& w);
    void FTPOnRecvData(CWorker& w);
    // One receive on the data connection and what the proxy handshake made
    // of it.
    struct DataChunk {
        ReceiveBuffer buffer;
        int n = 0;
        int64_t consumed = 0;
        int step = 0;
        // The bytes after the proxy's part.
        std::string_view Payload() const {
            return std::string_view(buffer.data() + consumed, static_cast<size_t>(n - consumed));
        }
    };
    bool ReceiveData(CWorker& w, DataChunk& chunk);
    void OnListingData(CWorker& w);
    void OnDataHandshake(CWorker& w);
    void OnProxiedFirstData(CWorker& w);
    int64_t ReceiveFileData(CWorker& w);
    // What storing received bytes did to the block.
    enum class StoreResult { Continue, BlockFinished, SizeMismatch, WriteFailed };
    void Store(CWorker& w, const char* bytes, int64_t n);
    StoreResult StoreRanged(CWorker& w, TaskDescriptor& d, TaskBlock& b, const char* bytes,
                            int64_t n, int& error);
    StoreResult StoreStream(CWorker& w, TaskDescriptor& d, TaskBlock& b, const char* bytes,
                            int64_t n, int& error);
    void EndListing(CWorker& w);

    // The login, TYPE and data path, created at the first connect on this
    // worker's connections. The server, credentials and proxy of a login are
    // a copy taken at each connect, so no step needs TaskLock for them.
    std::unique_ptr<CFtpSession> session_;
    std::string path_;  // the file's path on the server, decoded
    // The listing is over when its data connection is done with and its
    // final reply has come; only then is the next command sent, so that the
    // LIST replies are never taken for the next command's.
    bool listDataDone_ = false, listReplyDone_ = false;
    // A one-stream RETR is complete when its data connection closed and the
    // server confirmed the transfer.
    bool dataClosed_ = false, retrReplyDone_ = false;
    int64_t restOffset_ = 0;  // of the REST awaiting its reply
    int64_t probedSize_ = 0;  // thread 0's first SIZE while its MDTM is asked
    // When the worker last moved on (a new state or stored bytes): a server
    // that keeps talking without moving anything on times out too.
    std::chrono::steady_clock::time_point lastMove_{};
    bool moved_ = false;
    // Bytes of the claimed block already written but not yet counted: a block
    // with exactly one byte outstanding would read as finished (iFrom = iTo),
    // so the last-but-one byte is counted only together with the last one.
    int64_t iHeld_ = 0;
    std::vector<char> buffer_;
};

}  // namespace vardane
