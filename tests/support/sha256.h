// SHA-256 for comparing downloaded files with their source, and random test
// files that are the same for the same seed.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vardane::test {

// Lower-case hex digest.
std::string Sha256OfBytes(std::string_view bytes);
// Digest of a file's contents; empty when the file cannot be read.
std::string Sha256OfFile(const std::string& path);

// Writes size pseudo-random bytes (a function of seed) to path, parents
// created. Returns the digest of what was written, empty on failure.
std::string MakeRandomFile(const std::string& path, int64_t size, uint64_t seed = 1);
// The same bytes as MakeRandomFile, in memory.
std::string RandomBytes(size_t size, uint64_t seed = 1);

}  // namespace vardane::test
