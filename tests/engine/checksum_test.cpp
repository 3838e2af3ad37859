// Checksums: the ALGO=HEX text a user gives, the digest headers a server
// sends, and the check at the end of a download (a match completes, a
// mismatch fails and keeps the temporary file, a stop stays a stop).
#include <gtest/gtest.h>

#include "engine/checksum_check.h"
#include "engine/digest_header.h"
#include "engine/worker.h"
#include "net/proxy_text.h"
#include "platform/file.h"
#include "tests/engine/engine_harness.h"
#include "tests/engine/range_server.h"
#include "tests/support/sha256.h"

namespace vardane::test {
namespace {

// Digests of "abc".
const std::string kMd5Hex = "900150983cd24fb0d6963f7d28e17f72";
const std::string kSha1Hex = "a9993e364706816aba3e25717850c26c9cd0d89d";
const std::string kSha256Hex = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
const std::string kSha512Hex =
    "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a2192992a274fc1a836ba3c23a3fe"
    "ebbd454d4423643ce80e2a9ac94fa54ca49f";
const std::string kMd5B64 = "kAFQmDzST7DWlj99KOF/cg==";
const std::string kSha256B64 = "ungWv48Bz+pBQUDeXa4iI7ADYaOWF3qctBD/YfIAFa0=";
const std::string kSha512B64 =
    "3a81oZNherrMQXNJriBBMRLm+k6JqX6iCp7u5ktV05ohkpkqJ0/BqDa6PCOj/uu9RU1EI2Q86A4qmslPpUyknw==";

// The stored text of a parse, or its error as a word.
std::string Parsed(std::string_view text) {
    ChecksumParse p = ParseChecksumText(text);
    static const char* const kErrors[] = {"ok", "no-algorithm", "unknown", "not-hex", "length"};
    return p.Sum ? ChecksumText(*p.Sum) : kErrors[static_cast<int>(p.Error)];
}

std::string Announced(const std::optional<Checksum>& sum) {
    return sum ? ChecksumText(*sum) : "none";
}

TEST(Checksum, TypedTextTable) {
    struct Case {
        std::string text, expected;
    } cases[] = {
        {"sha256=" + kSha256Hex, "sha256=" + kSha256Hex},
        {" SHA256 = BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD ",
         "sha256=" + kSha256Hex},
        {"Sha512=" + kSha512Hex, "sha512=" + kSha512Hex},
        {"sha1=" + kSha1Hex, "sha1=" + kSha1Hex},
        {"MD5=" + kMd5Hex, "md5=" + kMd5Hex},
        {kSha256Hex, "no-algorithm"},
        {"=" + kSha256Hex, "no-algorithm"},
        {"sha-256=" + kSha256Hex, "unknown"},
        {"crc32=0a0b0c0d", "unknown"},
        {"sha256=" + kSha256Hex.substr(0, 63) + "g", "not-hex"},
        {"sha256=" + kSha256Hex.substr(0, 62), "length"},
        {"md5=" + kSha256Hex, "length"},
        {"sha256=" + kSha256Hex + "0", "length"},
        {"sha256=", "length"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Parsed(c.text), c.expected) << c.text;
    }
    EXPECT_EQ(ChecksumTextProblem("md5=00", ChecksumTextError::WrongLength),
              "'md5=00': md5 takes 32 hex digits");
}

TEST(Checksum, ServerDigestHeaderTable) {
    struct Case {
        std::string repr, legacy, expected, header;
    } cases[] = {
        {"sha-256=:" + kSha256B64 + ":", "", "sha256=" + kSha256Hex, "Repr-Digest"},
        // The strongest known algorithm wins; parameters and other members
        // of any type are allowed.
        {"md5=:" + kMd5B64 + ":, sha-512=:" + kSha512B64 + ":;q=1, unixsum=7, x=?1, y=\"a,b\"", "",
         "sha512=" + kSha512Hex, "Repr-Digest"},
        // Padding may be left out; a wrong length is no digest.
        {"sha-256=:" + kSha256B64.substr(0, 43) + ":", "", "sha256=" + kSha256Hex, "Repr-Digest"},
        {"sha-256=:" + kMd5B64 + ":", "", "none", ""},
        // A malformed dictionary is not trusted at all, and then Digest speaks.
        {"sha-256=:" + kSha256B64 + ":,", "MD5=" + kMd5B64, "md5=" + kMd5Hex, "Digest"},
        {"SHA-256=:" + kSha256B64 + ":", "", "none", ""},
        {"sha-256=" + kSha256B64, "", "none", ""},
        {"sha-256=:" + kSha256B64 + "", "", "none", ""},
        {"sha-256=:" + kSha256B64 + ": garbage", "", "none", ""},
        {"sha-256=:a*b=:", "", "none", ""},
        // The older header: names in any case, quotes tolerated, bad members skipped.
        {"", "SHA-256=" + kSha256B64, "sha256=" + kSha256Hex, "Digest"},
        {"", "sha-512=\"" + kSha512B64 + "\", MD5=" + kMd5B64, "sha512=" + kSha512Hex, "Digest"},
        {"", "SHA-256=!!!!, md5=" + kMd5B64, "md5=" + kMd5Hex, "Digest"},
        {"", "UNIXsum=30637", "none", ""},
    };
    for (const Case& c : cases) {
        std::optional<AnnouncedDigest> got = ParseDigestFields({c.repr, c.legacy});
        EXPECT_EQ(got ? ChecksumText(got->Sum) : "none", c.expected) << c.repr << " | " << c.legacy;
        EXPECT_EQ(got ? got->Header : "", c.header) << c.repr << " | " << c.legacy;
    }
    // Header lines: exact names in any case, repeated fields joined.
    DigestFields fields;
    for (const char* line :
         {"Repr-Digest: md5=:kAFQmDzST7DWlj99KOF/cg==:", "Content-Digest: x=:AA==:",
          "repr-digest:sha-256=:" /* the rest follows */, "Want-Digest: sha-256=1",
          "DIGEST: MD5=kAFQmDzST7DWlj99KOF/cg=="}) {
        CollectDigestField(line, fields);
    }
    EXPECT_EQ(fields.Repr, "md5=:kAFQmDzST7DWlj99KOF/cg==:, sha-256=:");
    EXPECT_EQ(fields.Legacy, "MD5=kAFQmDzST7DWlj99KOF/cg==");
    EXPECT_EQ(Announced(ParseReprDigest(fields.Repr)), "none");

    // Only a body that is the whole file is described by such a header.
    EXPECT_TRUE(ReplyIsWholeFile("200", ""));
    EXPECT_TRUE(ReplyIsWholeFile("206", "bytes 0-99/100"));
    EXPECT_FALSE(ReplyIsWholeFile("206", "bytes 0-98/100"));
    EXPECT_FALSE(ReplyIsWholeFile("206", "bytes 1-99/100"));
    EXPECT_FALSE(ReplyIsWholeFile("206", "bytes 0-99/*"));
    EXPECT_FALSE(ReplyIsWholeFile("304", ""));
}

const std::string kBody = RandomBytes(700 * 1024 + 77, 21);
const std::string kBodySha = Sha256OfBytes(kBody);
const std::string kOtherSha = Sha256OfBytes("not the body");

std::string Base64OfHex(const std::string& hex) {
    std::string bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    }
    return Base64Encode(bytes);
}

RangeServerOptions Serving(const std::string& body, const std::string& headers = "") {
    RangeServerOptions options;
    options.body = body;
    options.extraHeaders = headers;
    return options;
}

class ChecksumDownload : public ::testing::Test {
  protected:
    // Runs a task over threads connections with the given checksum ("" none),
    // into a file of its own.
    std::optional<TaskState> Download(RangeServer& server, int threads,
                                      const std::string& checksum) {
        name = "data" + std::to_string(++runs) + ".bin";
        id = h.AddTask(server.Url(name), threads, name);
        EXPECT_TRUE(UpdateProgress(h.ProgressPath(id),
                                   [&](TaskProgressRecord& r) { r.Checksum = checksum; }));
        return h.Run(slot, id);
    }
    std::string Target() { return h.DownloadDir + name; }
    std::string Line(std::string_view key, const std::string& values) {
        return h.ctx.lang.GetLangText(key) + " " + values;
    }
    EngineHarness h;
    TaskSlot slot{h.ctx};
    std::string id;
    std::string name;
    int runs = 0;
};

TEST_F(ChecksumDownload, GivenChecksumCompletesOnAMatchAndFailsOnAMismatch) {
    RangeServer server(Serving(kBody));
    ASSERT_EQ(Download(server, 3, "sha256=" + kBodySha), TaskState::Completed) << h.owner.Log();
    EXPECT_TRUE(ReadFile(Target()) == kBody);
    EXPECT_TRUE(h.owner.LogHas(Line("Log_ChecksumOk", "sha256=" + kBodySha))) << h.owner.Log();

    ASSERT_EQ(Download(server, 2, "sha256=" + kOtherSha), TaskState::Failed) << h.owner.Log();
    EXPECT_FALSE(FileExists(Target()));
    EXPECT_TRUE(ReadFile(Target() + ".vd~") == kBody) << "the data stays under its temporary name";
    EXPECT_TRUE(
        h.owner.LogHas(Line("Log_ChecksumMismatch", "sha256=" + kOtherSha + " sha256=" + kBodySha)))
        << h.owner.Log();
    EXPECT_EQ(h.Progress(id).State, "5");
    EXPECT_EQ(h.Progress(id).Checksum, "sha256=" + kOtherSha);
}

TEST_F(ChecksumDownload, ServerDigestOfTheWholeFileIsChecked) {
    const std::string right = "Repr-Digest: sha-256=:" + Base64OfHex(kBodySha) + ":\r\n";
    const std::string lying = "Repr-Digest: sha-256=:" + Base64OfHex(kOtherSha) + ":\r\n";
    {
        RangeServer server(Serving(kBody, right));
        ASSERT_EQ(Download(server, 1, ""), TaskState::Completed) << h.owner.Log();
        EXPECT_TRUE(h.owner.LogHas(Line("Log_ChecksumOk", "sha256=" + kBodySha + " (Repr-Digest)")))
            << h.owner.Log();
    }
    {
        RangeServer server(Serving(kBody, lying));
        EXPECT_EQ(Download(server, 1, ""), TaskState::Failed) << h.owner.Log();
        EXPECT_FALSE(FileExists(Target()));
        EXPECT_EQ(FileSize(Target() + ".vd~"), static_cast<int64_t>(kBody.size()));
    }
    {
        // The older header, on the first ranged reply that holds the whole file.
        RangeServer server(Serving(kBody, "Digest: SHA-256=" + Base64OfHex(kOtherSha) + "\r\n"));
        EXPECT_EQ(Download(server, 2, ""), TaskState::Failed) << h.owner.Log();
        EXPECT_TRUE(h.owner.LogHas("sha256=" + kOtherSha + " (Digest) sha256=" + kBodySha));
    }
    {
        // The user's checksum stands over the server's.
        RangeServer server(Serving(kBody, lying));
        EXPECT_EQ(Download(server, 1, "sha256=" + kBodySha), TaskState::Completed) << h.owner.Log();
    }
}

TEST_F(ChecksumDownload, DigestOfAPartIsNotTrusted) {
    // Every reply is a part of the file (the first piece asked for is 1 MiB).
    const std::string body = RandomBytes(3 * 1024 * 1024 + 5, 22);
    RangeServer server(Serving(body, "Repr-Digest: sha-256=:" + Base64OfHex(kOtherSha) + ":\r\n"));
    ASSERT_EQ(Download(server, 3, ""), TaskState::Completed) << h.owner.Log();
    EXPECT_TRUE(ReadFile(Target()) == body);
}

TEST_F(ChecksumDownload, StopDuringTheCheckStaysAStop) {
    std::string dir = h.DownloadDir;
    MakeDirectories(dir);
    WriteFile(dir + "data.bin.vd~", kBody);
    id = h.AddTask("http://127.0.0.1:1/data.bin", 1, "data.bin");
    TaskProgressRecord record = h.Progress(id);
    record.Checksum = "SHA256=" + kBodySha;
    AdoptTaskRecord(slot.task, record, "");
    slot.task.owner = &h.owner;
    {
        std::lock_guard lock(slot.task.TaskLock);
        slot.task.descriptor.ProgressPath = h.ProgressPath(id);
        slot.task.descriptor.LocalDir = dir;
        slot.task.descriptor.LocalFileName = "data.bin";
    }
    const auto size = static_cast<int64_t>(kBody.size());
    slot.StopCommanded = true;
    EXPECT_EQ(VerifyDownload(slot, size), TaskState::Stopped);
    slot.StopCommanded = false;
    EXPECT_EQ(VerifyDownload(slot, size), TaskState::Completed);
    // A file shorter than its bytes cannot be what was downloaded.
    EXPECT_EQ(VerifyDownload(slot, size + 1), TaskState::Failed);
    EXPECT_TRUE(h.owner.LogHas(h.ctx.lang.GetLangText("Log_ChecksumFailed"))) << h.owner.Log();
}

}  // namespace
}  // namespace vardane::test
