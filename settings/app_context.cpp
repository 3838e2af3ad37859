#include "settings/app_context.h"

#include <utility>

namespace vardane {

AppContext::AppContext(DataRoot dataRoot)
    : root(std::move(dataRoot)), registry(root.AppDir), lang(LanguageFolders(root), "") {
    settings.AppDir = root.AppDir;
    settings.AppPath = root.AppPath;
}

uint64_t AppContext::ChooseTls(const std::string& id, const TlsChoice& choice) {
    std::lock_guard lock(tlsChoiceLock_);
    HeldTlsChoice& held = tlsChoices_[id];
    if (held.run != nullptr) {
        return 0;
    }
    held = HeldTlsChoice{choice, nextTlsTicket_++, nullptr};
    return held.ticket;
}

void AppContext::DropTlsChoice(const std::string& id, uint64_t ticket) {
    std::lock_guard lock(tlsChoiceLock_);
    auto it = tlsChoices_.find(id);
    if (it != tlsChoices_.end() && it->second.ticket == ticket) {
        tlsChoices_.erase(it);
    }
}

void AppContext::ClaimTlsChoice(const std::string& id, const void* run) {
    std::lock_guard lock(tlsChoiceLock_);
    auto it = tlsChoices_.find(id);
    if (it != tlsChoices_.end() && it->second.run == nullptr) {
        it->second.run = run;
    }
}

void AppContext::EndTlsRun(const std::string& id, const void* run) {
    std::lock_guard lock(tlsChoiceLock_);
    auto it = tlsChoices_.find(id);
    if (it != tlsChoices_.end() && it->second.run == run) {
        tlsChoices_.erase(it);
    }
}

std::optional<AppContext::TlsChoice> AppContext::TlsChoiceOf(const std::string& id,
                                                             const void* run) {
    std::lock_guard lock(tlsChoiceLock_);
    auto it = tlsChoices_.find(id);
    if (it == tlsChoices_.end() || it->second.run != run) {
        return std::nullopt;
    }
    return it->second.choice;
}

}  // namespace vardane
