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

class FtpHandler : public IProtocolHandler {
  public:
    int ConnectionCount() const override { return kConnectionSlots; }
    bool PreparesOnResume() const override { return false; }
    void ConnectStep(Worker& w) override;
    void EventStep(Worker& w) override;

  private:
    static FtpState StateOf(const Worker& w) { return static_cast<FtpState>(w.rec.State); }
    static void Enter(Worker& w, FtpState state) { w.rec.State = static_cast<int>(state); }

    // What a reply line handler tells the line loop.
    enum class LineResult { Next, Stop };

    const ProxyRecord& Proxy() const { return session_->Server().proxy; }

    // ftp_worker.cpp: events and the control connection.
    void OnEvents(Worker& w, int slot, const NetworkEvents& events);
    bool OnConnectEvent(Worker& w, int slot, const NetworkEvents& events);
    void OnControlReply(Worker& w);
    LineResult OnReplyLine(Worker& w, const std::string& line, const std::string& code,
                           std::string& pending);
    LineResult OnLoginReply(Worker& w, const std::string& code, std::string& pending);
    LineResult OnRestProbeReply(Worker& w, const std::string& code, std::string& pending);
    LineResult OnTransferReply(Worker& w, const std::string& line, const std::string& code,
                               std::string& pending);
    LineResult OnSizeReply(Worker& w, const std::string& line);
    LineResult OnMdtmReply(Worker& w, const std::string& line, const std::string& code);
    LineResult OnSizeKnown(Worker& w, int64_t size, const std::string& modTime);
    LineResult OnSizeUnknown(Worker& w);
    void StartStream(Worker& w);
    void OnListingReply(Worker& w, const std::string& code);
    void OnRetrReply(Worker& w, const std::string& code);
    void FinishTransfer(Worker& w);
    void CheckStall(Worker& w, FtpState stateBefore);
    bool CheckVersionUnchanged(Worker& w, int64_t size, const std::string& modTime);
    bool RangeStart(Worker& w);
    bool FTPCheckBlock(Worker& w);
    void FTPSetFilePos(Worker& w, int64_t offset);
    void Fail550(Worker& w);

    // ftp_data.cpp: the data connection and the receive paths.
    bool OpenDataPath(Worker& w);
    bool OnDataPathReply(Worker& w, const std::string& line, const std::string& code);
    void OnAccept(Worker& w, const NetworkEvents& events);
    void OnDataClosed(Worker& w);
    void FTPOnRecvData(Worker& w);
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
    bool ReceiveData(Worker& w, DataChunk& chunk);
    void OnListingData(Worker& w);
    void OnDataHandshake(Worker& w);
    void OnProxiedFirstData(Worker& w);
    int64_t ReceiveFileData(Worker& w);
    // What storing received bytes did to the block.
    enum class StoreResult { Continue, BlockFinished, SizeMismatch, WriteFailed };
    void Store(Worker& w, const char* bytes, int64_t n);
    StoreResult StoreRanged(Worker& w, TaskDescriptor& d, TaskBlock& b, const char* bytes,
                            int64_t n, int& error);
    StoreResult StoreStream(Worker& w, TaskDescriptor& d, TaskBlock& b, const char* bytes,
                            int64_t n, int& error);
    void EndListing(Worker& w);

    // The login, TYPE and data path, created at the first connect on this
    // worker's connections. The server, credentials and proxy of a login are
    // a copy taken at each connect, so no step needs TaskLock for them.
    std::unique_ptr<FtpSession> session_;
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
    // with exactly one byte outstanding would read as finished (From = To),
    // so the last-but-one byte is counted only together with the last one.
    int64_t held_ = 0;
    std::vector<char> buffer_;
};

}  // namespace vardane
