// The HTTP side of a worker: one GET per block over its own connection, the
// reply header (status, size, range, redirect, file name) and the body
// written at the block's offset.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/digest_header.h"
#include "engine/http_text.h"
#include "engine/worker.h"
#include "net/tls_session.h"
#include "task/file_validators.h"

namespace vardane {

struct NetworkEvents;

// Redirects followed in a row before the task fails.
inline constexpr int kMaxRedirects = 20;
// A reply header may grow to this size; a longer one is a failed reply.
inline constexpr size_t kMaxHeaderBytes = 64 * 1024;

// What the header lines of one reply said.
struct HttpReplyInfo {
    std::string Status;
    std::string Location;
    std::string ContentRange;    // value of Content-Range, "" when absent
    int64_t ContentLength = -1;  // -1 when absent
    bool BadLength = false;      // a Content-Length that is no number, or two that differ
    bool Chunked = false;
    FileValidators Validators;  // ETag and Last-Modified, "" when absent or unusable
    DigestFields Digests;       // Repr-Digest and Digest
};

// How a reply's range answers the request.
enum class RangeAnswer {
    Fits,     // the bytes start where the request asked
    Ignored,  // a 200 to a ranged request: the server cannot resume
    Wrong,    // a 206 that was not asked for, or starts or ends elsewhere
};

class HttpHandler : public IProtocolHandler {
  public:
    HttpHandler() = default;
    ~HttpHandler() override;
    HttpHandler(const HttpHandler&) = delete;
    HttpHandler& operator=(const HttpHandler&) = delete;
    int ConnectionCount() const override { return 1; }
    bool PreparesOnResume() const override { return true; }
    void ConnectStep(Worker& w) override;
    void EventStep(Worker& w) override;

  private:
    void OnEvents(Worker& w, const NetworkEvents& events);
    void OnConnect(Worker& w);
    void OnProxyReply(Worker& w, const ProxyRecord& proxy);
    static ProxyRecord Proxy(Worker& w);

    // TLS (engine/http_tls.cpp): an https connection starts its session once
    // the connection (or the proxy's tunnel) is up; the request follows when
    // the session is.
    void BeginRequest(Worker& w);
    void OnTlsDone(Worker& w, int error);
    static TlsOptions TlsOptionsFor(Worker& w, const TaskDescriptor& d);
    static bool RangeMode(Worker& w);
    static bool RestartsStream(Worker& w);

    // Request.
    bool ChooseRange(Worker& w, int64_t& start, int64_t& end);
    void SendRequest(Worker& w);
    static std::string CookieHeader(const Worker::Settings& s, const TaskDescriptor& d,
                                    const std::string& appDir);

    // Reply.
    void ReadReplyHeader(Worker& w);
    bool ReadHeaderLines(Worker& w, const std::string& header, HttpReplyInfo& info);
    void OnReply(Worker& w, const HttpReplyInfo& info, std::string& body);
    void FollowRedirect(Worker& w, const std::string& location);
    // A reply that does not parse or does not answer the request: a failed
    // try, nothing of it is written.
    void RefuseReply(Worker& w);
    bool TakeSize(Worker& w, const HttpReplyInfo& info);
    // engine/http_version.cpp: the version of the file a reply comes from.
    static void ReadValidatorLine(const std::string& line, HttpReplyInfo& info);
    bool VersionChanged(Worker& w, const HttpReplyInfo& info) const;
    static void KeepValidators(Worker& w, const HttpReplyInfo& info);
    RangeAnswer CheckRange(Worker& w, const HttpReplyInfo& info, bool probe);
    static bool RangedProbeUsable(const HttpReplyInfo& info);
    void FallBackToSingleStream(Worker& w);
    bool DecideSize(Worker& w);
    void EndProbeEarly(Worker& w, int64_t bodyStart);
    void ReadBody(Worker& w);
    // Writes received body bytes at the block's position and counts them.
    void Consume(Worker& w, char* data, int64_t n);
    // Consume for n body bytes received into the pipe (plain connections).
    void ConsumePiped(Worker& w, int64_t n);
    bool OpenPipe();
    void ClosePipe();
    bool ReserveWrite(Worker& w, int64_t n, int64_t& take, uint64_t& epoch);
    bool AtStreamPosition(const TaskBlock& b) const;
    void CountWritten(Worker& w, int64_t take);
    enum class SingleWrite : uint8_t { Written, Refused, Failed };
    SingleWrite WriteSingleStream(Worker& w, TaskDescriptor& d, TaskBlock& b, char* data, int64_t n,
                                  int& error);
    // The server closed a single stream; graceful is false for a reset.
    void StreamClosed(Worker& w, bool graceful);

    std::string header_;        // reply header bytes gathered so far
    std::vector<char> buffer_;  // body reads, allocated once (TLS and single streams)
    int pipe_[2] = {-1, -1};    // ranged body reads of a plain connection, made once
    int redirects_ = 0;         // redirects in a row
    int64_t rangeStart_ = 0;    // first byte asked for by the request
    int64_t rangeEnd_ = -1;     // last byte asked for, -1 for the end of the file
    int64_t streamPos_ = 0;     // file offset of the next body byte on this connection
    bool chunked_ = false;
    bool unrangedProbe_ = false;  // the first request goes without a range (a 416 to it)
    ChunkDecoder decoder_;
};

// The proxy an HTTP connection of d goes through: an "HTTP Get" proxy cannot
// carry an https request, so such a connection tunnels through the same
// proxy with CONNECT, as browsers do.
ProxyRecord EffectiveProxy(const TaskDescriptor& d);

// Takes the descriptor's file name as the local name when the extensions
// differ (the name made safe first; no effect once the temporary file exists).
void FixFileNameByExtension(DownloadTask& task);

}  // namespace vardane
