// Finds and loads the TLS module on first use; a plain download never maps
// OpenSSL.
#include "net/tls_session.h"

#include <dlfcn.h>

#include <mutex>
#include <vector>

#include "platform/data_root.h"
#include "platform/file.h"

namespace vardane {

namespace {

// Where the module of the running executable may be: beside it (a build
// tree), or in <prefix>/lib/vardane/ for <prefix>/bin/ (an installed one).
// Only these absolute paths are tried, never the library search path.
std::vector<std::string> ModuleCandidates() {
    const std::string exe = ExecutablePath(nullptr);
    if (exe.empty()) {
        return {};
    }
    const std::string folder = FolderOf(exe);
    return {folder + kTlsModuleFile, folder + "../lib/vardane/" + kTlsModuleFile};
}

// The session of a connection whose module could not be loaded: it fails at
// once and says why, as a certificate that does not verify would.
class UnavailableSession final : public TlsSession {
  public:
    explicit UnavailableSession(std::string why) : why_(std::move(why)) {}
    Step Handshake() override { return Step::Failed; }
    short WantedEvents() const override { return 0x001; }
    int64_t Read(char*, size_t, bool& broken) override {
        broken = false;
        return -1;
    }
    bool HasPending() const override { return false; }
    bool Resumed() const override { return false; }
    bool Write(const void*, size_t) override { return false; }
    void Shutdown() override {}
    TlsFailure Failure() const override { return TlsFailure::Unavailable; }
    const std::string& FailureText() const override { return why_; }
    std::string Description() const override { return ""; }

  private:
    std::string why_;
};

}  // namespace

const TlsModuleApi* LoadTlsModule(const std::string& path, std::string& why) {
    // RTLD_LOCAL: the module's OpenSSL symbols never resolve anyone else's.
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* error = ::dlerror();
        why = error != nullptr ? error : path + ": cannot be loaded";
        return nullptr;
    }
    using Entry = const TlsModuleApi* (*)();
    auto entry = reinterpret_cast<Entry>(::dlsym(handle, kTlsModuleEntry));
    const TlsModuleApi* api = entry != nullptr ? entry() : nullptr;
    if (api == nullptr || api->abi != kTlsModuleAbi || api->size != sizeof(TlsModuleApi) ||
        api->newSession == nullptr || api->newDigest == nullptr) {
        // Another build's module: calling into it could corrupt anything.
        ::dlclose(handle);
        why = path + ": not a module of this build of the program";
        return nullptr;
    }
    return api;  // never closed: its sessions and contexts live as long as the process
}

const TlsModuleApi* TlsModule(std::string* why) {
    static std::once_flag once;
    static const TlsModuleApi* api = nullptr;
    static std::string* failure = nullptr;
    std::call_once(once, [] {
        std::string reasons;
        for (const std::string& path : ModuleCandidates()) {
            std::string reason;
            api = LoadTlsModule(path, reason);
            if (api != nullptr) {
                return;
            }
            reasons += (reasons.empty() ? "" : "; ") + reason;
        }
        failure = new std::string(reasons.empty() ? kTlsModuleFile : reasons);
    });
    if (api == nullptr && why != nullptr) {
        *why = *failure;
    }
    return api;
}

std::unique_ptr<TlsSession> NewTlsSession(int fd, const std::string& host, int port,
                                          const TlsOptions& options) {
    std::string why;
    const TlsModuleApi* api = TlsModule(&why);
    if (api == nullptr) {
        return std::make_unique<UnavailableSession>(why);
    }
    return api->newSession(fd, host, port, options);
}

std::unique_ptr<Digest> NewDigest(std::string_view algorithm, std::string* why) {
    std::string reason;
    const TlsModuleApi* api = TlsModule(&reason);
    std::unique_ptr<Digest> digest = api != nullptr ? api->newDigest(algorithm) : nullptr;
    if (digest == nullptr && why != nullptr) {
        *why = api != nullptr ? "unknown digest " + std::string(algorithm) : reason;
    }
    return digest;
}

}  // namespace vardane
