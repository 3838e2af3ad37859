#include "tests/engine/range_server.h"

#include <sys/socket.h>

#include <thread>

#include "platform/text.h"

namespace vardane::test {

RangeServer::RangeServer(RangeServerOptions options)
    : options_(std::move(options)),
      version_(std::make_shared<Version>(
          Version{options_.body, options_.etag, options_.lastModified, options_.pieceDelayMs})),
      server_([this](ScriptedConnection& c) { Serve(c); }) {}

void RangeServer::Replace(std::string body, std::string etag, std::string lastModified) {
    auto next = std::make_shared<Version>(
        Version{std::move(body), std::move(etag), std::move(lastModified), 0});
    std::lock_guard lock(versionLock_);
    version_ = std::move(next);
}

std::shared_ptr<const RangeServer::Version> RangeServer::Current() {
    std::lock_guard lock(versionLock_);
    return version_;
}

std::string RangeServer::Url(const std::string& path) const {
    return (options_.tlsCert.empty() ? "http://127.0.0.1:" : "https://127.0.0.1:") +
           std::to_string(Port()) + "/" + path;
}

void RangeServer::Serve(ScriptedConnection& c) {
    if (!options_.tlsCert.empty() && !c.StartTls(options_.tlsCert, options_.tlsKey)) {
        return;
    }
    std::optional<std::string> request = c.ReadUntil("\r\n\r\n");
    if (!request) {
        return;
    }
    int small = 16 * 1024;  // keeps what the socket buffers hold out of the count
    setsockopt(c.Fd(), SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
    if (options_.reply) {
        std::string reply = options_.reply(c.Index());
        if (!reply.empty()) {
            c.Write(reply);
            c.Close();
            return;
        }
    }
    const std::shared_ptr<const Version> version = Current();
    const std::string& body = version->body;
    int64_t size = static_cast<int64_t>(body.size());
    int64_t start = 0;
    int64_t end = size;  // one past the last byte served
    bool ranged = false;
    size_t at = ToLowerAscii(*request).find("range: bytes=");
    if (at != std::string::npos && !options_.ignoreRange) {
        ranged = true;
        std::string asked = request->substr(at + 13, request->find('\r', at) - at - 13);
        size_t dash = asked.find('-');
        start = TextToInt(asked.substr(0, dash));
        if (dash != std::string::npos && dash + 1 < asked.size()) {
            end = std::min(size, TextToInt(asked.substr(dash + 1)) + 1);
        }
    }
    if (size_t at = ToLowerAscii(*request).find("\r\nif-range: ");
        ranged && at != std::string::npos) {
        std::string named = request->substr(at + 12, request->find('\r', at + 2) - at - 12);
        if (named.empty() || (named != version->etag && named != version->lastModified)) {
            ranged = false;  // another version: the whole file
            start = 0;
            end = size;
        }
    }
    if (start > 0 && options_.wrongRangeShift != 0 && shifted_++ < options_.wrongRangeTimes) {
        // The reply is honest about where it starts; it just is not where
        // the request asked.
        start = std::min(end - 1, start + options_.wrongRangeShift);
    }
    std::string head;
    if (ranged && start >= size) {
        // As real servers answer: the range cannot be served, with a page
        // that must never end up in the file.
        c.Write("HTTP/1.1 416 Range Not Satisfiable\r\nContent-Range: bytes */" +
                std::to_string(size) + "\r\nContent-Length: 6\r\nConnection: close\r\n\r\nERRORS");
        c.Close();
        return;
    }
    if (ranged) {
        head = "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes " + std::to_string(start) +
               "-" + std::to_string(end - 1) + "/" + std::to_string(size) + "\r\n";
    } else {
        head = options_.contentLength ? "HTTP/1.1 200 OK\r\n" : "HTTP/1.0 200 OK\r\n";
    }
    if (options_.chunked) {
        head += "Transfer-Encoding: chunked\r\n";
    } else if (options_.contentLength) {
        head += "Content-Length: " + std::to_string(end - start) + "\r\n";
    }
    if (!version->etag.empty()) {
        head += "ETag: " + version->etag + "\r\n";
    }
    if (!version->lastModified.empty()) {
        head += "Last-Modified: " + version->lastModified + "\r\n";
    }
    head += options_.extraHeaders + "Connection: close\r\n\r\n";
    if (!c.Write(head)) {
        return;
    }
    int64_t limit = end;
    bool stall = c.Index() == options_.stallConnection;
    bool cut = c.Index() == options_.cutConnection ||
               options_.cutConnection == RangeServerOptions::kEveryConnection;
    if (stall) {
        limit = std::min(end, start + options_.stallAfter);
    } else if (cut) {
        limit = std::min(end, start + options_.cutAfter);
    }
    const int64_t piece = 16 * 1024;
    for (int64_t pos = start; pos < limit; pos += piece) {
        if (Current() != version) {
            c.Close();
            return;
        }
        std::string part = body.substr(static_cast<size_t>(pos),
                                       static_cast<size_t>(std::min(piece, limit - pos)));
        if (options_.chunked) {
            char len[32];
            snprintf(len, sizeof len, "%zx\r\n", part.size());
            part = len + part + "\r\n";
        }
        if (!c.Write(part)) {
            return;
        }
        sent_ += std::min(piece, limit - pos);
        if (version->pieceDelayMs > 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(version->pieceDelayMs));
        }
    }
    if (stall) {
        c.WaitForClose(std::chrono::seconds(30));
        return;
    }
    if (cut && options_.cutWithReset) {
        c.Reset();
        return;
    }
    if (options_.chunked && !cut) {
        c.Write("0\r\n\r\n");
    }
    if (!options_.tlsCert.empty() && !cut) {
        c.CloseNotify();
        c.WaitForClose();
    }
    c.Close();
}

}  // namespace vardane::test
