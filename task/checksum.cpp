#include "task/checksum.h"

#include <array>

#include "platform/text.h"

namespace vardane {

namespace {

struct AlgorithmInfo {
    ChecksumAlgorithm Algorithm;
    std::string_view Name;
    size_t Size;
};

constexpr std::array<AlgorithmInfo, 4> kAlgorithms{{
    {ChecksumAlgorithm::Md5, "md5", 16},
    {ChecksumAlgorithm::Sha1, "sha1", 20},
    {ChecksumAlgorithm::Sha256, "sha256", 32},
    {ChecksumAlgorithm::Sha512, "sha512", 64},
}};

const AlgorithmInfo& Info(ChecksumAlgorithm algorithm) {
    for (const AlgorithmInfo& info : kAlgorithms) {
        if (info.Algorithm == algorithm) {
            return info;
        }
    }
    return kAlgorithms[2];
}

}  // namespace

std::string_view ChecksumAlgorithmName(ChecksumAlgorithm algorithm) {
    return Info(algorithm).Name;
}

size_t ChecksumDigestSize(ChecksumAlgorithm algorithm) {
    return Info(algorithm).Size;
}

ChecksumParse ParseChecksumText(std::string_view text) {
    ChecksumParse result;
    text = TrimBlanks(text);
    size_t eq = text.find('=');
    if (eq == std::string_view::npos || TrimBlanks(text.substr(0, eq)).empty()) {
        result.Error = ChecksumTextError::NoAlgorithm;
        return result;
    }
    std::string_view name = TrimBlanks(text.substr(0, eq));
    std::string_view hex = TrimBlanks(text.substr(eq + 1));
    const AlgorithmInfo* info = nullptr;
    for (const AlgorithmInfo& candidate : kAlgorithms) {
        if (EqualsNoCase(name, candidate.Name)) {
            info = &candidate;
        }
    }
    if (info == nullptr) {
        result.Error = ChecksumTextError::UnknownAlgorithm;
        return result;
    }
    Checksum sum;
    sum.Algorithm = info->Algorithm;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
        int high = HexDigitValue(hex[i]);
        int low = HexDigitValue(hex[i + 1]);
        if (high < 0 || low < 0) {
            result.Error = ChecksumTextError::NotHex;
            return result;
        }
        sum.Digest += static_cast<char>(high * 16 + low);
    }
    if (hex.size() % 2 != 0 && HexDigitValue(hex.back()) < 0) {
        result.Error = ChecksumTextError::NotHex;
        return result;
    }
    if (hex.size() != info->Size * 2) {
        result.Error = ChecksumTextError::WrongLength;
        return result;
    }
    result.Sum = std::move(sum);
    return result;
}

std::string ChecksumTextProblem(std::string_view text, ChecksumTextError error) {
    std::string quoted = "'" + std::string(text) + "'";
    switch (error) {
        case ChecksumTextError::None:
            return "";
        case ChecksumTextError::NoAlgorithm:
            return quoted + " is not ALGO=HEX (for example sha256=<64 hex digits>)";
        case ChecksumTextError::UnknownAlgorithm:
            return quoted + " names no known algorithm (sha256, sha512, sha1, md5)";
        case ChecksumTextError::NotHex:
            return quoted + " holds a character that is no hex digit";
        case ChecksumTextError::WrongLength:
            break;
    }
    std::string_view trimmed = TrimBlanks(text);
    std::string_view name = TrimBlanks(trimmed.substr(0, trimmed.find('=')));
    for (const AlgorithmInfo& info : kAlgorithms) {
        if (EqualsNoCase(name, info.Name)) {
            return quoted + ": " + std::string(info.Name) + " takes " +
                   IntToText(static_cast<int64_t>(info.Size * 2)) + " hex digits";
        }
    }
    return quoted + " has the wrong number of hex digits";
}

std::string HexOfBytes(std::string_view bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(bytes.size() * 2);
    for (char c : bytes) {
        auto b = static_cast<unsigned char>(c);
        hex += kDigits[b >> 4];
        hex += kDigits[b & 15];
    }
    return hex;
}

std::string ChecksumText(const Checksum& sum) {
    return std::string(ChecksumAlgorithmName(sum.Algorithm)) + "=" + HexOfBytes(sum.Digest);
}

}  // namespace vardane
