// Benchmark of the check a finished download goes through: the digest of a
// file read in chunks, as the task's end computes it (engine/checksum_check).
// Writes a file of pseudo-random bytes, then digests it ROUNDS times with
// each algorithm named and prints wall and CPU seconds per GiB (the file is
// in the page cache, as a download that has just been written is).
//   vardane_checksum_bench [folder] [MiB] [rounds] [algo...]
//   defaults: $TMPDIR or /tmp, 1024, 3, sha256
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "engine/checksum_check.h"
#include "platform/file.h"

namespace {

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

bool WriteRandomFile(const std::string& path, int64_t mib) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        return false;
    }
    std::mt19937_64 random(7);
    std::vector<uint64_t> block((1 << 20) / sizeof(uint64_t));
    bool ok = true;
    for (int64_t i = 0; i < mib && ok; ++i) {
        for (uint64_t& word : block) {
            word = random();
        }
        ok = std::fwrite(block.data(), 1, 1 << 20, file) == (1u << 20);
    }
    return std::fclose(file) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
    const char* tmp = std::getenv("TMPDIR");
    std::string folder = argc > 1 ? argv[1] : (tmp != nullptr ? tmp : "/tmp");
    int64_t mib = argc > 2 ? std::atoll(argv[2]) : 1024;
    int rounds = argc > 3 ? std::atoi(argv[3]) : 3;
    std::vector<std::string> names;
    for (int i = 4; i < argc; ++i) {
        names.emplace_back(argv[i]);
    }
    if (names.empty()) {
        names.emplace_back("sha256");
    }
    std::string path = vardane::WithTrailingSlash(folder) + "vardane-checksum-bench.bin";
    if (mib <= 0 || rounds <= 0 || !WriteRandomFile(path, mib)) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        return 1;
    }
    const double gib = double(mib) / 1024.0;
    int status = 0;
    for (const std::string& name : names) {
        vardane::ChecksumAlgorithm algorithm = vardane::ChecksumAlgorithm::Sha256;
        bool known = false;
        for (auto a : {vardane::ChecksumAlgorithm::Md5, vardane::ChecksumAlgorithm::Sha1,
                       vardane::ChecksumAlgorithm::Sha256, vardane::ChecksumAlgorithm::Sha512}) {
            if (vardane::ChecksumAlgorithmName(a) == name) {
                algorithm = a;
                known = true;
            }
        }
        if (!known) {
            std::fprintf(stderr, "unknown algorithm %s\n", name.c_str());
            status = 2;
            continue;
        }
        for (int round = 1; round <= rounds; ++round) {
            std::string digest;
            double cpu = CpuSeconds();
            auto start = std::chrono::steady_clock::now();
            vardane::DigestOutcome outcome = vardane::DigestFile(
                path, mib << 20, algorithm, [] { return false; }, digest);
            std::chrono::duration<double> wall = std::chrono::steady_clock::now() - start;
            cpu = CpuSeconds() - cpu;
            if (outcome != vardane::DigestOutcome::Done) {
                std::fprintf(stderr, "digest failed\n");
                status = 1;
                break;
            }
            std::printf("%s round %d: %.3f s/GiB wall, %.3f s/GiB cpu (%lld MiB)\n", name.c_str(),
                        round, wall.count() / gib, cpu / gib, static_cast<long long>(mib));
        }
    }
    vardane::RemoveFile(path);
    return status;
}
