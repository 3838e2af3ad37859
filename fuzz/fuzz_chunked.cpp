// A chunked body from a server, decoded in one piece and again in pieces cut
// where the input says: the same bytes and the same end state must come out,
// and no call may yield more bytes than it was given.
#include <algorithm>
#include <string>

#include "engine/http_text.h"
#include "fuzz/fuzz_support.h"

using vardane::ChunkDecoder;

namespace {

struct Decoded {
    std::string body;
    bool done = false;
    bool failed = false;
};

// Cut lengths come from the bytes themselves (1..16), so the fuzzer explores
// splits inside sizes, CR LF pairs and data alike.
Decoded DecodeInPieces(std::string input, bool split) {
    ChunkDecoder decoder;
    Decoded out;
    size_t pos = 0;
    while (pos < input.size()) {
        size_t n = split ? std::min<size_t>(1 + (input[pos] & 0x0F), input.size() - pos)
                         : input.size() - pos;
        size_t got = decoder.Decode(input.data() + pos, n);
        FUZZ_CHECK(got <= n, input);
        out.body.append(input.data() + pos, got);
        pos += n;
    }
    out.done = decoder.Done();
    out.failed = decoder.Failed();
    FUZZ_CHECK(!(out.done && out.failed), input);
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string input(reinterpret_cast<const char*>(data), size);
    Decoded whole = DecodeInPieces(input, false);
    Decoded pieces = DecodeInPieces(input, true);
    FUZZ_CHECK(whole.body == pieces.body, input);
    FUZZ_CHECK(whole.done == pieces.done && whole.failed == pieces.failed, input);
    FUZZ_CHECK(whole.body.size() <= size, input);
    return 0;
}
