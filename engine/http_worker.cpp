// The HTTP worker: connect and event steps on connection slot 0, the request
// for the thread's block, the reply header and the body.
#include "engine/http_worker.h"

#include <algorithm>
#include <ctime>

#include "engine/cookies.h"
#include "engine/file_name.h"
#include "engine/file_writer.h"
#include "engine/http_text.h"
#include "engine/speed_limiter.h"
#include "engine/task_headers.h"
#include "net/proxy.h"
#include "net/proxy_text.h"
#include "platform/text.h"
#include "settings/app_context.h"
#include "task/progress_file.h"
#include "task/url.h"

namespace vardane {

std::unique_ptr<IProtocolHandler> MakeHttpHandler() {
    return std::make_unique<CHttpHandler>();
}

void CHttpHandler::ConnectStep(CWorker& w) {
    header_.clear();
    if (w.IsStopped()) {
        return;
    }
    CConnectionSet& set = w.rec.Connections;
    CloseSockets(set, 1);
    CreateSockets(set, 1);
    // Before the connect, so the window the server is offered is small from
    // the first byte.
    BoundReceiveBuffer(set[0], ReceiveBufferBytes(w.ctx));
    if (!w.CountConnectAttempt(RestartsStream(w))) {
        return;
    }
    w.rec.iState = tsConnecting;
    TaskDescriptor d = w.task.Snapshot();
    const ProxyRecord& proxy = d.ProxyHTTP;
    if (proxy.Type == proxyDirect) {
        w.LogKey(LogKind::Info, "Log_Connecting", HostPortText(d.Host, d.iPort));
        ConnectSocket(set, 0, d.Host, d.iPort, d.Host, d.iPort);
    } else {
        w.LogKey(LogKind::Info, "Log_ConnectingProxy", HostPortText(proxy.Server, proxy.Port));
        ConnectSocket(set, 0, proxy.Server, proxy.Port, d.Host, d.iPort);
    }
}

ProxyRecord CHttpHandler::Proxy(CWorker& w) {
    std::lock_guard lock(w.task.TaskLock);
    return EffectiveProxy(w.task.descriptor);
}

// The next request fetches a single stream that already has bytes again
// from its first byte (ChooseRange).
bool CHttpHandler::RestartsStream(CWorker& w) {
    std::lock_guard lock(w.task.TaskLock);
    const TaskDescriptor& d = w.task.descriptor;
    return !d.bRangeMode && w.rec.bSizeChecked && d.iDownloaded > 0 &&
           w.rec.iThreadID == w.slot.iStreamOwner;
}

bool CHttpHandler::RangeMode(CWorker& w) {
    std::lock_guard lock(w.task.TaskLock);
    return w.task.descriptor.bRangeMode;
}

void CHttpHandler::EventStep(CWorker& w) {
    if (w.IsStopped()) {
        return;
    }
    WorkerRecord& r = w.rec;
    CConnectionSet& set = r.Connections;
    int result = WaitForEvents(set, 1, kWaitMillis);
    if (result == kWaitFailed) {
        r.iState = tsDisconnect;
    } else if (result == kWaitTimeout) {
        if (r.bPeerClosed && !RangeMode(w)) {
            r.iState = tsStop;  // one stream of unknown length ends at the close
        }
        w.OnIdleTick();
    } else {
        r.iWaited = 0;
        NetworkEvents events;
        if (!EnumNetworkEvents(set, 0, events)) {
            if (r.iState == tsConnecting) {
                r.iState = tsDisconnect;
            }
        } else {
            OnEvents(w, events);
        }
    }
    w.AfterStep(set[0].Host, set[0].Port);
}

void CHttpHandler::OnEvents(CWorker& w, const NetworkEvents& events) {
    WorkerRecord& r = w.rec;
    CEventSocket& conn = r.Connections[0];
    if ((events.lNetworkEvents & FD_CONNECT) && TlsOf(r.Connections, 0) != nullptr) {
        OnTlsDone(w, events.iConnectError);
    } else if (events.lNetworkEvents & FD_CONNECT) {
        r.bPeerClosed = false;
        if (events.iConnectError == 0) {
            OnConnect(w);
        } else if (r.iState == tsConnecting) {
            r.iState = tsDisconnect;
        }
    }
    if ((events.lNetworkEvents & FD_READ) && r.iState > tsConnecting) {
        ProxyRecord proxy = Proxy(w);
        if (proxy.Type == proxyDirect || conn.ProxyStep == proxyReady) {
            if (r.iState == tsRequestSent) {
                ReadReplyHeader(w);
            } else if (r.iState == tsReceiving) {
                ReadBody(w);
            }
        } else {
            OnProxyReply(w, proxy);
        }
    }
    if (events.lNetworkEvents & FD_CLOSE) {
        r.bPeerClosed = true;
        // Everything queued has been read: a reply cut short is retried at
        // once instead of after the time-out.
        if (r.iState == tsRequestSent) {
            r.iState = tsDisconnect;
        } else if (r.iState == tsReceiving && RangeMode(w)) {
            r.iState = tsReconnect;
        } else if (r.iState == tsReceiving) {
            StreamClosed(w, events.iCloseError == 0);
        }
    }
}

void CHttpHandler::OnConnect(CWorker& w) {
    WorkerRecord& r = w.rec;
    CEventSocket& conn = r.Connections[0];
    if (r.iState != tsRequestSent) {
        r.iState = tsConnected;
        TaskLog(w.task, LogKind::Info, r.iThreadID,
                HostPortText(conn.Host, conn.Port) + " " + w.Text("Log_Connected"));
    }
    int64_t consumed = 0;
    int step = NegotiateProxy(w, conn, Proxy(w), nullptr, 0, consumed);
    if (step == proxyFailed) {
        r.iState = tsDisconnect;
    } else if (step == proxyReady && r.iState == tsConnected) {
        BeginRequest(w);
    }
}

void CHttpHandler::OnProxyReply(CWorker& w, const ProxyRecord& proxy) {
    ReceiveBuffer buffer;
    int n = Receive(w.rec.Connections, 0, buffer);
    if (n <= 0) {
        return;
    }
    int64_t consumed = 0;
    int step = NegotiateProxy(w, w.rec.Connections[0], proxy, buffer.data(), n, consumed);
    if (step == proxyReady && w.rec.iState == tsConnected) {
        BeginRequest(w);
    } else if (step == proxyFailed) {
        w.rec.iState = tsDisconnect;
    }
}

std::string CHttpHandler::CookieHeader(const CWorker::Settings& s, const TaskDescriptor& d,
                                       const std::string& appDir) {
    if (!s.HTTPEnableCookies || s.CookieFile.empty()) {
        return "";
    }
    std::string path = s.CookieFile.front() == '/' ? s.CookieFile : appDir + s.CookieFile;
    // The cookies of the server the request goes to, never those of the
    // address the task was created with (a redirect may lead elsewhere).
    return CookiesFromFile(path, d.Host, d.RequestPath, static_cast<int64_t>(std::time(nullptr)));
}

// The byte range of this request (0-based, end -1 for the end of the file);
// false when the worker must stop. A ranged request ends where its block
// ends, so the server sends nothing that would be thrown away.
bool CHttpHandler::ChooseRange(CWorker& w, int64_t& start, int64_t& end) {
    WorkerRecord& r = w.rec;
    bool rangeMode, prepared;
    int owner, threads;
    int64_t downloaded;
    {
        std::lock_guard lock(w.task.TaskLock);
        threads = w.task.descriptor.ThreadCount;
        rangeMode = w.task.descriptor.bRangeMode;
        prepared = w.slot.bFilePrepared;
        owner = w.slot.iStreamOwner;
        downloaded = w.task.descriptor.iDownloaded;
    }
    start = 0;
    end = -1;
    if (!rangeMode && r.bSizeChecked) {
        // One stream: only its owner reads, and a new connection starts it
        // again from the first byte.
        if (r.iThreadID != owner) {
            return false;
        }
        r.iID = 0;
        return downloaded == 0 || RestartSingleStream(w.slot, r.iThreadID);
    }
    if (r.iThreadID == 0 && !r.bSizeChecked) {
        // The first request learns the size. A task that splits asks only a
        // first piece of the file: what a server queues past the end of
        // block 0 would be sent twice (the server writes ahead of a reader
        // by its whole send buffer, megabytes on a fast link).
        if (threads > 1 && !unrangedProbe_) {
            end = ProbeBytes(w.ctx) - 1;
        }
        return true;
    }
    if (r.iThreadID == 0 && !prepared && !PrepareLocalFile(w.slot, 0)) {
        return false;
    }
    if (!w.ClaimBlock("HTTPCheckBlock")) {
        return false;
    }
    const int64_t most = RequestBytes(w.ctx);
    std::lock_guard lock(w.task.TaskLock);
    TaskBlock& b = (*w.task.descriptor.Blocks)[r.iID];
    start = b.iFrom - 1;
    // One connection never splits: it asks for its whole block at once.
    const bool alone = w.task.descriptor.ThreadCount <= 1;
    const int64_t last = alone ? b.iTo : std::min(b.iTo, b.iFrom + most - 1);
    b.iAsked = last;
    // The whole file from its first byte needs no range.
    if (start > 0 || last < w.task.descriptor.iFileSize) {
        end = last - 1;
    }
    return true;
}

void CHttpHandler::SendRequest(CWorker& w) {
    int64_t start = 0, end = -1;
    if (!ChooseRange(w, start, end)) {
        w.rec.iState = tsStop;
        return;
    }
    TaskDescriptor d = w.task.Snapshot();
    CWorker::Settings s = w.ReadSettings();
    HttpRequest q;
    q.RequestPath = d.RequestPath;
    q.Url = d.URL;
    q.Host = d.Host;
    q.Port = d.iPort;
    if (s.HTTPSendReferer) {
        q.Referer = d.Referer;
    }
    q.Cookie = CookieHeader(s, d, w.ctx.AppDir());
    q.UserAgent = s.UserAgent;
    ApplyTaskHeaders(d.TaskHeaders, d.BaseURL, d.Protocol, d.Host, q);
    q.RangeStart = start;
    q.RangeEnd = end;
    q.IfRange = IfRangeValue(d.Validators);
    q.ViaGetProxy = EffectiveProxy(d).Type == proxyHttpGet;
    if (q.ViaGetProxy && d.ProxyHTTP.Authenticate) {
        q.ProxyCredentials = Base64Encode(d.ProxyHTTP.User + ":" + d.ProxyHTTP.Password);
    }
    rangeStart_ = start;
    rangeEnd_ = end;
    chunked_ = false;
    decoder_.Reset();
    w.rec.iState = tsRequestSent;
    w.SendText(BuildHttpRequest(q));
}

}  // namespace vardane
