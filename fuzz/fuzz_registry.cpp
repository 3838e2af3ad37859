// A settings store file, perhaps edited by hand: whatever parses must write
// back to text that parses to the same tree, the store must open it (or set
// it aside) without harm, and a proxy entry read from any of its values
// must survive being written back.
#include <cstdio>
#include <string>

#include "fuzz/fuzz_support.h"
#include "lang/lang_table.h"
#include "platform/registry.h"
#include "platform/registry_tree.h"
#include "settings/proxy_record.h"

namespace {

void CheckProxyRecord(const std::string& text) {
    static const vardane::LangTable lang;
    vardane::ProxyRecord r = vardane::ParseProxyRecord(text, lang);
    std::string written = vardane::FormatProxyRecord(r);
    vardane::ProxyRecord back = vardane::ParseProxyRecord(written, lang);
    FUZZ_CHECK(back.Type == r.Type && back.PASV == r.PASV && back.Name == r.Name &&
                   back.Server == r.Server && back.Port == r.Port &&
                   back.Authenticate == r.Authenticate && back.User == r.User &&
                   back.Password == r.Password,
               text);
}

}  // namespace

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
    vardane::RegistryStore store(path);
    for (const std::string& key : store.AllKeys()) {
        FUZZ_CHECK(store.KeyExists(key), key);
        for (const auto& [name, value] : store.Values(key)) {
            CheckProxyRecord(value);
        }
    }
    if (!store.SetAsideName().empty()) {
        std::remove(store.SetAsideName().c_str());
    }
    return 0;
}
