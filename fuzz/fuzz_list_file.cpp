// A list file (or any file the line reader opens: imports, language files)
// in whatever encoding it comes: every line is clean UTF-8 without line ends,
// the identifiers read survive being written and read again, and a list
// found sound holds nothing but task ids.
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "platform/line_reader.h"
#include "task/task_list.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string bytes(reinterpret_cast<const char*>(data), size);
    std::string path = vardane::fuzz::WriteScratchFile("Downloading.lst", data, size);

    vardane::TextLineReader reader;
    FUZZ_CHECK(reader.Open(path), path);
    std::string line;
    size_t count = 0;
    while (reader.ReadLine(line)) {
        FUZZ_CHECK(++count <= size, bytes);
        FUZZ_CHECK(line.find_first_of("\r\n") == std::string::npos, bytes);
        FUZZ_CHECK(vardane::fuzz::IsUtf8(line), bytes);
    }
    FUZZ_CHECK(reader.AtEnd() && line.empty(), bytes);
    reader.Close();

    std::vector<std::string> ids = vardane::ReadListIds(path);
    FUZZ_CHECK(ids.size() <= count, bytes);
    // A list judged sound holds task ids only: digits.
    bool sound = vardane::IsListFileSound(path);
    // The load's one read of a list judges and reads it alike.
    std::vector<std::string> once;
    FUZZ_CHECK(vardane::ReadSoundListIds(path, once) == sound, bytes);
    FUZZ_CHECK(once == (sound ? ids : std::vector<std::string>{}), bytes);
    for (const std::string& id : ids) {
        FUZZ_CHECK(!id.empty(), bytes);
        FUZZ_CHECK(!sound || id.find_first_not_of("0123456789") == std::string::npos, bytes);
    }
    std::string copy = vardane::fuzz::ScratchDir() + "Copy.lst";
    FUZZ_CHECK(vardane::WriteListFile(copy, ids), copy);
    FUZZ_CHECK(vardane::ReadListIds(copy) == ids, bytes);
    return 0;
}
