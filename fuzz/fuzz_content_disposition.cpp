// A Content-Disposition line from a server: the name it gives must, once
// sanitized, stay inside the target folder.
#include <string>

#include "engine/file_name.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string line(reinterpret_cast<const char*>(data), size);
    (void)vardane::IsAttachmentDisposition(line);
    std::string raw = vardane::DispositionFileName(line);
    // The raw input is sanitized too: redirect targets reach the same code.
    for (const std::string& from : {raw, line}) {
        std::string name = vardane::SanitizeFileName(from);
        if (name.empty()) {
            continue;
        }
        FUZZ_CHECK(name != "." && name != "..", name);
        FUZZ_CHECK(name.size() <= vardane::kMaxLocalNameBytes, name);  // room for ".vd~"
        FUZZ_CHECK(name.find_first_of("/\\\"") == std::string::npos, name);
        for (unsigned char c : name) {
            FUZZ_CHECK(c >= 0x20 && c != 0x7F, name);
        }
        FUZZ_CHECK(name.front() != '.' && name.front() != ' ', name);
        FUZZ_CHECK(name.back() != '.' && name.back() != ' ', name);
        FUZZ_CHECK(vardane::SanitizeFileName(name) == name, name);
    }
    return 0;
}
