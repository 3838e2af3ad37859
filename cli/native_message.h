// The browsers' native messaging protocol, apart from the host's process:
// each message is a 32-bit length in the machine's byte order (little-endian
// here) followed by that many bytes of UTF-8 JSON, in both directions. Pure
// functions and a decoder fed with whatever bytes arrive; tested alone and
// fuzzed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "task/request_headers.h"

namespace vardane {

// The largest message taken from a browser. Browsers themselves send up to
// 4 GiB; nothing Vardane is asked for comes near this.
inline constexpr size_t kMaxNativeMessage = 1024 * 1024;
// The most links one message may hand over.
inline constexpr size_t kMaxBrowserLinks = 1000;

// Splits a byte stream into messages. A message announced larger than
// kMaxNativeMessage is reported once and its bytes are dropped as they come,
// so memory stays bounded and the next message is read as usual.
class NativeMessageDecoder {
  public:
    enum class Kind { None, Message, TooLarge };
    void Feed(std::string_view bytes);
    // The next complete message (Message), the refusal of one too large
    // (TooLarge, message empty), or None when more bytes are needed.
    Kind Next(std::string& message);
    // True when no message is partly read (an end of input here is clean).
    bool Idle() const { return buffer_.empty() && skip_ == 0; }

  private:
    std::string buffer_;
    uint64_t skip_ = 0;  // bytes of a refused message still to drop
};

// The length prefix and json.
std::string EncodeNativeMessage(std::string_view json);

// What a browser's message asks for.
struct BrowserRequest {
    enum class Type {
        Invalid,   // Error says why
        Download,  // one address, with what the browser knows of it
        Settings,  // whether Vardane wants the browser's downloads
        Links,     // the links of a page, for one confirmation
    };
    Type type = Type::Invalid;
    std::string Error;
    std::string Url;
    RequestHeaders Headers;  // cookies, referrer and agent of the browser
    std::string FileName;    // the browser's suggestion, not yet made safe
    std::vector<std::string> Links;
};

// {"url", "referrer", "cookies", "userAgent", "filename"} (all but url
// optional, null counts as absent) is a download; {"type": "settings"} and
// {"type": "links", "links": [...], "referrer": ...} the other two. Anything
// else is Invalid with a short English reason.
BrowserRequest ParseBrowserRequest(std::string_view json);

// The answers, as JSON text.
std::string DownloadAnswer(std::string_view id);
std::string SettingsAnswer(bool monitor);
std::string LinksAnswer(size_t count);
std::string ErrorAnswer(std::string_view error);

}  // namespace vardane
