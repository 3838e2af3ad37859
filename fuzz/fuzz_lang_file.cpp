// A language file: lookups never fail on odd bytes, the first key the file
// defines is found with its value, and the display name read from its [Lang]
// section is one line.
#include <string>

#include "fuzz/fuzz_support.h"
#include "lang/lang_table.h"
#include "lang/profile_value.h"
#include "platform/line_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string bytes(reinterpret_cast<const char*>(data), size);
    std::string path = vardane::fuzz::WriteScratchFile("fuzz_lang", data, size);
    vardane::LangTable table({vardane::fuzz::ScratchDir()}, "fuzz_lang");
    (void)table.GetAppTitle();
    std::string name = vardane::GetProfileValue(path, "Lang", "Language", "-");
    FUZZ_CHECK(name.find("\r\n") == std::string::npos, bytes);

    vardane::TextLineReader reader;
    FUZZ_CHECK(reader.Open(path), path);
    std::string line;
    while (reader.ReadLine(line)) {
        size_t eq = line.find('=');
        if (eq != std::string::npos && eq > 0) {
            FUZZ_CHECK(table.GetLangText(line.substr(0, eq)) == line.substr(eq + 1), bytes);
            break;
        }
    }
    return 0;
}
