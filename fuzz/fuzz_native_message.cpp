// What a browser (or anything that starts the host) writes to the native
// messaging host: whatever the bytes and however they are split, no message
// larger than the cap is taken, every message gets an answer that is JSON,
// and what the parser hands on has the fields the host relies on.
#include <nlohmann/json.hpp>
#include <string>

#include "cli/native_message.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using vardane::BrowserRequest;
    using vardane::NativeMessageDecoder;
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    // The first byte picks the size of the pieces the stream arrives in.
    const size_t piece = size > 0 ? 1 + static_cast<unsigned char>(bytes[0]) % 64 : 1;
    NativeMessageDecoder decoder;
    std::string message;
    for (size_t at = 0; at < bytes.size(); at += piece) {
        decoder.Feed(std::string_view(bytes).substr(at, piece));
        for (;;) {
            const NativeMessageDecoder::Kind kind = decoder.Next(message);
            if (kind == NativeMessageDecoder::Kind::None) {
                break;
            }
            FUZZ_CHECK(message.size() <= vardane::kMaxNativeMessage, "oversize message taken");
            const BrowserRequest request = vardane::ParseBrowserRequest(message);
            std::string answer;
            switch (request.type) {
                case BrowserRequest::Type::Download:
                    FUZZ_CHECK(!request.Url.empty(), message);
                    answer = vardane::DownloadAnswer(request.Url);
                    break;
                case BrowserRequest::Type::Links:
                    FUZZ_CHECK(request.Links.size() <= vardane::kMaxBrowserLinks, message);
                    answer = vardane::LinksAnswer(request.Links.size());
                    break;
                case BrowserRequest::Type::Settings:
                    answer = vardane::SettingsAnswer(true);
                    break;
                case BrowserRequest::Type::Invalid:
                    FUZZ_CHECK(!request.Error.empty(), message);
                    answer = vardane::ErrorAnswer(request.Error + message);
                    break;
            }
            FUZZ_CHECK(!nlohmann::json::parse(answer, nullptr, false).is_discarded(), answer);
        }
    }
    return 0;
}
