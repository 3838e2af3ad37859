#include "cli/native_message.h"

#include <nlohmann/json.hpp>

namespace vardane {

using Json = nlohmann::json;

void NativeMessageDecoder::Feed(std::string_view bytes) {
    if (skip_ > 0) {
        const size_t dropped = static_cast<size_t>(std::min<uint64_t>(skip_, bytes.size()));
        skip_ -= dropped;
        bytes.remove_prefix(dropped);
    }
    buffer_.append(bytes);
}

NativeMessageDecoder::Kind NativeMessageDecoder::Next(std::string& message) {
    message.clear();
    if (skip_ > 0 || buffer_.size() < 4) {
        return Kind::None;
    }
    uint32_t length = 0;
    for (int i = 3; i >= 0; --i) {
        length = (length << 8) | static_cast<unsigned char>(buffer_[static_cast<size_t>(i)]);
    }
    if (length > kMaxNativeMessage) {
        const uint64_t held = buffer_.size() - 4;
        const uint64_t dropped = std::min<uint64_t>(held, length);
        skip_ = length - dropped;
        buffer_.erase(0, 4 + static_cast<size_t>(dropped));
        // What followed the refused message in the same read stays.
        return Kind::TooLarge;
    }
    if (buffer_.size() - 4 < length) {
        return Kind::None;
    }
    message = buffer_.substr(4, length);
    buffer_.erase(0, 4 + static_cast<size_t>(length));
    return Kind::Message;
}

std::string EncodeNativeMessage(std::string_view json) {
    const auto length = static_cast<uint32_t>(json.size());
    std::string out;
    out.reserve(4 + json.size());
    for (int i = 0; i < 4; ++i) {
        out += static_cast<char>((length >> (8 * i)) & 0xff);
    }
    out.append(json);
    return out;
}

namespace {

// The string at key: absent and null leave out as it is; any other type is
// an error (false, with reason).
bool TakeString(const Json& object, const char* key, std::string& out, std::string& reason) {
    const auto it = object.find(key);
    if (it == object.end() || it->is_null()) {
        return true;
    }
    if (!it->is_string()) {
        reason = std::string("\"") + key + "\" must be a string";
        return false;
    }
    out = it->get_ref<const std::string&>();
    return true;
}

BrowserRequest Invalid(std::string reason) {
    BrowserRequest request;
    request.Error = std::move(reason);
    return request;
}

BrowserRequest ParseLinks(const Json& object) {
    BrowserRequest request;
    const auto links = object.find("links");
    if (links == object.end() || !links->is_array()) {
        return Invalid("\"links\" must be an array of addresses");
    }
    if (links->size() > kMaxBrowserLinks) {
        return Invalid("more than " + std::to_string(kMaxBrowserLinks) + " links");
    }
    for (const Json& link : *links) {
        if (!link.is_string()) {
            return Invalid("\"links\" must be an array of addresses");
        }
        request.Links.push_back(link.get<std::string>());
    }
    if (!TakeString(object, "referrer", request.Headers.Referer, request.Error)) {
        return request;
    }
    request.type = BrowserRequest::Type::Links;
    return request;
}

BrowserRequest ParseDownload(const Json& object) {
    BrowserRequest request;
    std::string& reason = request.Error;
    if (!TakeString(object, "url", request.Url, reason) ||
        !TakeString(object, "referrer", request.Headers.Referer, reason) ||
        !TakeString(object, "cookies", request.Headers.Cookie, reason) ||
        !TakeString(object, "userAgent", request.Headers.UserAgent, reason) ||
        !TakeString(object, "filename", request.FileName, reason)) {
        return request;
    }
    if (request.Url.empty()) {
        return Invalid("no \"url\"");
    }
    request.type = BrowserRequest::Type::Download;
    return request;
}

std::string Dump(const Json& value) {
    // Text that is not UTF-8 (a server's, in an error) is sent with U+FFFD in
    // its place rather than not at all.
    return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

}  // namespace

BrowserRequest ParseBrowserRequest(std::string_view json) {
    const Json value = Json::parse(json.begin(), json.end(), nullptr, false);
    if (value.is_discarded()) {
        return Invalid("not JSON");
    }
    if (!value.is_object()) {
        return Invalid("not a JSON object");
    }
    std::string type;
    std::string reason;
    if (!TakeString(value, "type", type, reason)) {
        return Invalid(reason);
    }
    if (type == "settings") {
        BrowserRequest request;
        request.type = BrowserRequest::Type::Settings;
        return request;
    }
    if (type == "links") {
        return ParseLinks(value);
    }
    if (type.empty() || type == "download") {
        return ParseDownload(value);
    }
    return Invalid("unknown \"type\"");
}

std::string DownloadAnswer(std::string_view id) {
    // A string: a task id has more digits than a JSON number keeps exactly.
    return Dump(Json{{"ok", true}, {"id", std::string(id)}});
}

std::string SettingsAnswer(bool monitor) {
    return Dump(Json{{"ok", true}, {"monitor", monitor}});
}

std::string LinksAnswer(size_t count) {
    return Dump(Json{{"ok", true}, {"count", count}});
}

std::string ErrorAnswer(std::string_view error) {
    constexpr size_t kMaxError = 4096;
    return Dump(Json{{"ok", false}, {"error", std::string(error.substr(0, kMaxError))}});
}

}  // namespace vardane
