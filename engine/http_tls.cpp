// https on the HTTP worker: the session starts once the connection (or the
// proxy's tunnel) is up, and the request follows the handshake. A
// certificate that does not verify, or a missing TLS module, ends the task:
// no retry changes it.
#include <optional>

#include "engine/http_worker.h"
#include "net/event_socket.h"
#include "net/proxy.h"
#include "platform/text.h"
#include "settings/app_context.h"
#include "task/url.h"

namespace vardane {

ProxyRecord EffectiveProxy(const TaskDescriptor& d) {
    ProxyRecord proxy = d.ProxyHTTP;
    if (proxy.Type == proxyHttpGet && IsHttps(d.Protocol)) {
        proxy.Type = proxyHttpConnect;
    }
    return proxy;
}

TlsOptions HttpHandler::TlsOptionsFor(Worker& w, const TaskDescriptor& d) {
    TlsOptions options;
    options.caFile = w.ReadSettings().CAFile;
    // Only a choice this run of the task took at its start.
    if (std::optional<AppContext::TlsChoice> choice = w.ctx.TlsChoiceOf(d.TaskId, &w.slot)) {
        options.verify = !choice->insecure;
        if (!choice->caFile.empty()) {
            options.caFile = choice->caFile;
        }
    }
    if (!options.caFile.empty() && options.caFile.front() != '/') {
        options.caFile = w.ctx.AppDir() + options.caFile;
    }
    return options;
}

void HttpHandler::BeginRequest(Worker& w) {
    TaskDescriptor d = w.task.Snapshot();
    ConnectionSet& set = w.rec.Connections;
    if (!IsHttps(d.Protocol) || TlsOf(set, 0) != nullptr) {
        SendRequest(w);
        return;
    }
    TlsOptions options = TlsOptionsFor(w, d);
    if (!options.verify) {
        w.LogKey(LogKind::Error, "Log_TlsInsecure");
    }
    w.LogKey(LogKind::Info, "Log_TlsHandshake", HostPortText(d.Host, d.Port));
    if (!StartTls(set, 0, d.Host, options)) {
        w.rec.State = tsDisconnect;
    }
}

void HttpHandler::OnTlsDone(Worker& w, int error) {
    WorkerRecord& r = w.rec;
    const TlsSession* tls = TlsOf(r.Connections, 0);
    if (error == 0) {
        w.LogKey(LogKind::Info, "Log_TlsEstablished", tls->Description());
        if (r.State == tsConnected) {
            SendRequest(w);
        }
        return;
    }
    if (tls->Failure() == TlsFailure::Verify || tls->Failure() == TlsFailure::Unavailable) {
        w.LogKey(LogKind::Error,
                 tls->Failure() == TlsFailure::Verify ? "Log_TlsCertificateFailed"
                                                      : "Log_TlsUnavailable",
                 tls->FailureText());
        w.task.SetState(TaskState::Failed);
        r.State = tsStop;
        return;
    }
    w.LogKey(LogKind::Error, "Log_TlsHandshakeFailed", tls->FailureText());
    r.State = tsDisconnect;
}

}  // namespace vardane
