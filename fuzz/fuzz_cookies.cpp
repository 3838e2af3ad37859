// A cookies.txt file written by another program: whatever it holds, the
// value sent in the Cookie header is one line.
#include <string>

#include "engine/cookies.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    for (const char* host : {"example.com", "www.example.com", "127.0.0.1"}) {
        for (const char* path : {"/", "/dir/file.zip"}) {
            std::string header = vardane::CookiesFor(text, host, path, 1700000000);
            FUZZ_CHECK(header.find_first_of("\r\n") == std::string::npos, text);
        }
    }
    return 0;
}
