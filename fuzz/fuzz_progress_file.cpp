// A progress file as found on disk: read through the real reader, then
// written and read back, which must give the same record.
#include <array>
#include <string>

#include "fuzz/fuzz_support.h"
#include "task/progress_file.h"

namespace {

std::array<std::string, 16> Fields(const vardane::TaskProgressRecord& r) {
    return {r.BaseURL,   r.LocalDir, r.LocalFileName, r.LocalTempFileName,
            r.ProxyHTTP, r.ProxyFTP, r.State,         r.ThreadCount,
            r.Folder,    r.Cat,      r.FileSize,      r.FilePos,
            r.Block[0],  r.Block[1], r.Block[2],      r.Block[3]};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string bytes(reinterpret_cast<const char*>(data), size);
    std::string path = vardane::fuzz::WriteScratchFile("task.pro~", data, size);
    vardane::TaskProgressRecord read = vardane::ReadProgress(path);
    FUZZ_CHECK(Fields(read) == Fields(vardane::ParseProgress(bytes)), bytes);
    // The list's load packs what the parser viewed, without the record.
    vardane::ProgressParser parser;
    parser.Parse(bytes);
    FUZZ_CHECK(parser.Packed() == vardane::PackProgress(read), bytes);

    std::string written = vardane::FormatProgress(read);
    FUZZ_CHECK(written.compare(0, 2, "\xFF\xFE") == 0, bytes);
    FUZZ_CHECK(vardane::WriteProgress(read, path), path);
    FUZZ_CHECK(Fields(vardane::ReadProgress(path)) == Fields(read), bytes);
    return 0;
}
