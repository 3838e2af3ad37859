// A file checksum as the user gives it and as the task stores it:
// "ALGO=HEX" (sha256, sha512, sha1 or md5; the name in any case, the hex
// digits in any case and exactly as many as the digest has).
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace vardane {

enum class ChecksumAlgorithm { Md5, Sha1, Sha256, Sha512 };

struct Checksum {
    ChecksumAlgorithm Algorithm = ChecksumAlgorithm::Sha256;
    std::string Digest;  // the raw digest bytes
    bool operator==(const Checksum&) const = default;
};

// Why a checksum text was refused.
enum class ChecksumTextError { None, NoAlgorithm, UnknownAlgorithm, NotHex, WrongLength };

struct ChecksumParse {
    std::optional<Checksum> Sum;  // set when Error is None
    ChecksumTextError Error = ChecksumTextError::None;
};

// "sha256", "sha512", "sha1", "md5".
std::string_view ChecksumAlgorithmName(ChecksumAlgorithm algorithm);
// Digest length in bytes: 16, 20, 32, 64.
size_t ChecksumDigestSize(ChecksumAlgorithm algorithm);

// "ALGO=HEX"; blanks around the whole text and around the "=" are allowed.
ChecksumParse ParseChecksumText(std::string_view text);
// An English sentence saying what is wrong with text (for usage errors).
std::string ChecksumTextProblem(std::string_view text, ChecksumTextError error);
// The stored form: "sha256=" and lower-case hex.
std::string ChecksumText(const Checksum& sum);
// Lower-case hex of bytes.
std::string HexOfBytes(std::string_view bytes);

}  // namespace vardane
