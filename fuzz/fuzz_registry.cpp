// A settings store file, perhaps edited by hand: whatever parses must write
// back to text that parses to the same tree, and the store must open it (or
// set it aside) without harm.
#include <cstdio>
#include <string>

#include "fuzz/fuzz_support.h"
#include "platform/registry.h"
#include "platform/registry_tree.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    vardane::RegNode root;
    if (vardane::ParseRegistryText(text, root)) {
        std::string written = vardane::FormatRegistryText(root);
        vardane::RegNode again;
        FUZZ_CHECK(vardane::ParseRegistryText(written, again), written);
        FUZZ_CHECK(vardane::FormatRegistryText(again) == written, written);
    } else {
        FUZZ_CHECK(root.children.empty() && root.values.empty(), text);
    }

    std::string path = vardane::fuzz::WriteScratchFile("HKCU.reg", data, size);
    vardane::CRegistryStore store(path);
    for (const std::string& key : store.AllKeys()) {
        FUZZ_CHECK(store.KeyExists(key), key);
        (void)store.Values(key);
    }
    if (!store.SetAsideName().empty()) {
        std::remove(store.SetAsideName().c_str());
    }
    return 0;
}
