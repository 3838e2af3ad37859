// A reply's digest headers as a server sends them: Repr-Digest and Digest
// values, read the way the HTTP worker reads them before it trusts one.
#include <string>
#include <string_view>

#include "engine/digest_header.h"
#include "fuzz/fuzz_support.h"
#include "task/checksum.h"

namespace {

void CheckSum(const std::optional<vardane::Checksum>& sum, std::string_view input) {
    if (!sum) {
        return;
    }
    // Only a digest of the algorithm's length is ever taken, and its text
    // form reads back as the same checksum.
    FUZZ_CHECK(sum->Digest.size() == vardane::ChecksumDigestSize(sum->Algorithm), input);
    vardane::ChecksumParse again = vardane::ParseChecksumText(vardane::ChecksumText(*sum));
    FUZZ_CHECK(again.Sum && *again.Sum == *sum, input);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view value(reinterpret_cast<const char*>(data), size);
    CheckSum(vardane::ParseReprDigest(value), value);
    CheckSum(vardane::ParseLegacyDigest(value), value);
    if (std::optional<std::string> bytes = vardane::Base64Decode(value)) {
        FUZZ_CHECK(bytes->size() <= value.size() * 3 / 4, value);
    }
    // The same bytes as header lines, and as a checksum a user typed.
    vardane::DigestFields fields;
    vardane::CollectDigestField("Repr-Digest: " + std::string(value), fields);
    vardane::CollectDigestField("digest:" + std::string(value), fields);
    if (auto announced = vardane::ParseDigestFields(fields)) {
        CheckSum(announced->Sum, value);
    }
    vardane::ChecksumParse typed = vardane::ParseChecksumText(value);
    FUZZ_CHECK(typed.Sum.has_value() == (typed.Error == vardane::ChecksumTextError::None), value);
    CheckSum(typed.Sum, value);
    return 0;
}
