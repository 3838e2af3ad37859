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
    return std::make_unique<HttpHandler>();
}

void HttpHandler::ConnectStep(Worker& w) {
    header_.clear();
    if (w.IsStopped()) {
        return;
    }
    ConnectionSet& set = w.rec.Connections;
    CloseSockets(set, 1);
    CreateSockets(set, 1);
    // Before the connect, so the window the server is offered is small from
    // the first byte.
    BoundReceiveBuffer(set[0], ReceiveBufferBytes(w.ctx));
    if (!w.CountConnectAttempt(RestartsStream(w))) {
        return;
    }
    w.rec.State = tsConnecting;
    TaskDescriptor d = w.task.Snapshot();
    const ProxyRecord& proxy = d.ProxyHTTP;
    if (proxy.Type == proxyDirect) {
        w.LogKey(LogKind::Info, "Log_Connecting", HostPortText(d.Host, d.Port));
        ConnectSocket(set, 0, d.Host, d.Port, d.Host, d.Port);
    } else {
        w.LogKey(LogKind::Info, "Log_ConnectingProxy", HostPortText(proxy.Server, proxy.Port));
        ConnectSocket(set, 0, proxy.Server, proxy.Port, d.Host, d.Port);
    }
}

ProxyRecord HttpHandler::Proxy(Worker& w) {
    std::lock_guard lock(w.task.TaskLock);
    return EffectiveProxy(w.task.descriptor);
}

// The next request fetches a single stream that already has bytes again
// from its first byte (ChooseRange).
bool HttpHandler::RestartsStream(Worker& w) {
    std::lock_guard lock(w.task.TaskLock);
    const TaskDescriptor& d = w.task.descriptor;
    return !d.RangeMode && w.rec.SizeChecked && d.Downloaded > 0 &&
           w.rec.ThreadId == w.slot.StreamOwner;
}

bool HttpHandler::RangeMode(Worker& w) {
    std::lock_guard lock(w.task.TaskLock);
    return w.task.descriptor.RangeMode;
}

void HttpHandler::EventStep(Worker& w) {
    if (w.IsStopped()) {
        return;
    }
    WorkerRecord& r = w.rec;
    ConnectionSet& set = r.Connections;
    int result = WaitForEvents(set, 1, kWaitMillis);
    if (result == kWaitFailed) {
        r.State = tsDisconnect;
    } else if (result == kWaitTimeout) {
        if (r.PeerClosed && !RangeMode(w)) {
            r.State = tsStop;  // one stream of unknown length ends at the close
        }
        w.OnIdleTick();
    } else {
        r.Waited = 0;
        NetworkEvents events;
        if (!EnumNetworkEvents(set, 0, events)) {
            if (r.State == tsConnecting) {
                r.State = tsDisconnect;
            }
        } else {
            OnEvents(w, events);
        }
    }
    w.AfterStep(set[0].Host, set[0].Port);
}

void HttpHandler::OnEvents(Worker& w, const NetworkEvents& events) {
    WorkerRecord& r = w.rec;
    EventSocket& conn = r.Connections[0];
    if ((events.NetworkEvents & kFdConnect) && TlsOf(r.Connections, 0) != nullptr) {
        OnTlsDone(w, events.ConnectError);
    } else if (events.NetworkEvents & kFdConnect) {
        r.PeerClosed = false;
        if (events.ConnectError == 0) {
            OnConnect(w);
        } else if (r.State == tsConnecting) {
            r.State = tsDisconnect;
        }
    }
    if ((events.NetworkEvents & kFdRead) && r.State > tsConnecting) {
        ProxyRecord proxy = Proxy(w);
        if (proxy.Type == proxyDirect || conn.ProxyStep == proxyReady) {
            if (r.State == tsRequestSent) {
                ReadReplyHeader(w);
            } else if (r.State == tsReceiving) {
                ReadBody(w);
            }
        } else {
            OnProxyReply(w, proxy);
        }
    }
    if (events.NetworkEvents & kFdClose) {
        r.PeerClosed = true;
        // Everything queued has been read: a reply cut short is retried at
        // once instead of after the time-out.
        if (r.State == tsRequestSent) {
            r.State = tsDisconnect;
        } else if (r.State == tsReceiving && RangeMode(w)) {
            r.State = tsReconnect;
        } else if (r.State == tsReceiving) {
            StreamClosed(w, events.CloseError == 0);
        }
    }
}

void HttpHandler::OnConnect(Worker& w) {
    WorkerRecord& r = w.rec;
    EventSocket& conn = r.Connections[0];
    if (r.State != tsRequestSent) {
        r.State = tsConnected;
        TaskLog(w.task, LogKind::Info, r.ThreadId,
                HostPortText(conn.Host, conn.Port) + " " + w.Text("Log_Connected"));
    }
    int64_t consumed = 0;
    int step = NegotiateProxy(w, conn, Proxy(w), nullptr, 0, consumed);
    if (step == proxyFailed) {
        r.State = tsDisconnect;
    } else if (step == proxyReady && r.State == tsConnected) {
        BeginRequest(w);
    }
}

void HttpHandler::OnProxyReply(Worker& w, const ProxyRecord& proxy) {
    ReceiveBuffer buffer;
    int n = Receive(w.rec.Connections, 0, buffer);
    if (n <= 0) {
        return;
    }
    int64_t consumed = 0;
    int step = NegotiateProxy(w, w.rec.Connections[0], proxy, buffer.data(), n, consumed);
    if (step == proxyReady && w.rec.State == tsConnected) {
        BeginRequest(w);
    } else if (step == proxyFailed) {
        w.rec.State = tsDisconnect;
    }
}

std::string HttpHandler::CookieHeader(const Worker::Settings& s, const TaskDescriptor& d,
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
bool HttpHandler::ChooseRange(Worker& w, int64_t& start, int64_t& end) {
    WorkerRecord& r = w.rec;
    bool rangeMode, prepared;
    int owner, threads;
    int64_t downloaded;
    {
        std::lock_guard lock(w.task.TaskLock);
        threads = w.task.descriptor.ThreadCount;
        rangeMode = w.task.descriptor.RangeMode;
        prepared = w.slot.FilePrepared;
        owner = w.slot.StreamOwner;
        downloaded = w.task.descriptor.Downloaded;
    }
    start = 0;
    end = -1;
    if (!rangeMode && r.SizeChecked) {
        // One stream: only its owner reads, and a new connection starts it
        // again from the first byte.
        if (r.ThreadId != owner) {
            return false;
        }
        r.Id = 0;
        return downloaded == 0 || RestartSingleStream(w.slot, r.ThreadId);
    }
    if (r.ThreadId == 0 && !r.SizeChecked) {
        // The first request learns the size. A task that splits asks only a
        // first piece of the file: what a server queues past the end of
        // block 0 would be sent twice (the server writes ahead of a reader
        // by its whole send buffer, megabytes on a fast link).
        if (threads > 1 && !unrangedProbe_) {
            end = ProbeBytes(w.ctx) - 1;
        }
        return true;
    }
    if (r.ThreadId == 0 && !prepared && !PrepareLocalFile(w.slot, 0)) {
        return false;
    }
    if (!w.ClaimBlock("HTTPCheckBlock")) {
        return false;
    }
    const int64_t most = RequestBytes(w.ctx);
    std::lock_guard lock(w.task.TaskLock);
    TaskBlock& b = (*w.task.descriptor.Blocks)[r.Id];
    start = b.From - 1;
    // One connection never splits: it asks for its whole block at once.
    const bool alone = w.task.descriptor.ThreadCount <= 1;
    const int64_t last = alone ? b.To : std::min(b.To, b.From + most - 1);
    b.Asked = last;
    // The whole file from its first byte needs no range.
    if (start > 0 || last < w.task.descriptor.FileSize) {
        end = last - 1;
    }
    return true;
}

void HttpHandler::SendRequest(Worker& w) {
    int64_t start = 0, end = -1;
    if (!ChooseRange(w, start, end)) {
        w.rec.State = tsStop;
        return;
    }
    TaskDescriptor d = w.task.Snapshot();
    Worker::Settings s = w.ReadSettings();
    HttpRequest q;
    q.RequestPath = d.RequestPath;
    q.Url = d.URL;
    q.Host = d.Host;
    q.Port = d.Port;
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
    w.rec.State = tsRequestSent;
    w.SendText(BuildHttpRequest(q));
}

}  // namespace vardane
