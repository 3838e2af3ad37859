// Small helpers shared by the fuzz targets: a per-process scratch folder for
// parsers that only read from a path, and a check that aborts with a message
// so a wrong result is reported like a crash.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vardane::fuzz {

// A folder of this process under $TMPDIR (else /dev/shm or /tmp), ending with '/'; created
// on first use and removed with its files at exit.
const std::string& ScratchDir();

// Writes bytes to ScratchDir() + name, replacing it; aborts when it cannot.
std::string WriteScratchFile(std::string_view name, const uint8_t* data, size_t size);

// True when text is well-formed UTF-8 (no overlong forms or surrogates).
bool IsUtf8(std::string_view text);

[[noreturn]] void Fail(const char* what, std::string_view detail);

}  // namespace vardane::fuzz

// Aborts (a libFuzzer crash) when cond is false.
#define FUZZ_CHECK(cond, detail) ((cond) ? (void)0 : ::vardane::fuzz::Fail(#cond, (detail)))
