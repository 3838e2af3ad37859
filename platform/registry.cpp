#include "platform/registry.h"

#include <cstdio>
#include <ctime>

#include "platform/file.h"
#include "platform/registry_tree.h"
#include "platform/text.h"

namespace vardane {

struct RegistryStore::Impl {
    mutable std::mutex mutex;
    RegNode root;
    int batchDepth = 0;
    bool dirty = false;

    const RegNode* Find(std::string_view keyPath) const {
        const auto parts = SplitKeyPath(keyPath);
        if (!parts) {
            return nullptr;
        }
        const RegNode* node = &root;
        for (std::string_view part : *parts) {
            const auto it = node->children.find(ToLowerAscii(part));
            if (it == node->children.end()) {
                return nullptr;
            }
            node = it->second.get();
        }
        return node;
    }
    RegNode* Find(std::string_view keyPath) {
        return const_cast<RegNode*>(std::as_const(*this).Find(keyPath));
    }
};

namespace {

// Moves an unreadable store out of the way under a name that is not taken.
std::string SetAside(const std::string& path) {
    const std::string base =
        path + ".corrupt-" + IntToText(static_cast<int64_t>(std::time(nullptr)));
    std::string name = base;
    for (int n = 2; FileExists(name); ++n) {
        name = base + "-" + IntToText(n);
    }
    return std::rename(path.c_str(), name.c_str()) == 0 ? name : std::string();
}

void CollectKeys(const RegNode& node, const std::string& path, std::vector<std::string>& out) {
    for (const auto& [lower, child] : node.children) {
        const std::string childPath = path.empty() ? child->name : path + '\\' + child->name;
        out.push_back(childPath);
        CollectKeys(*child, childPath, out);
    }
}

}  // namespace

RegistryStore::RegistryStore(std::string path)
    : impl_(std::make_unique<Impl>()), path_(std::move(path)) {
    std::string text;
    if (!FileExists(path_) || !ReadFileBytes(path_, text)) {
        return;
    }
    if (!ParseRegistryText(text, impl_->root)) {
        // Never run on half a file: keep it for the user and start empty, so
        // the defaults get written again.
        setAside_ = SetAside(path_);
    }
}

RegistryStore::~RegistryStore() = default;

void RegistryStore::WriteLocked() {
    if (impl_->batchDepth > 0) {
        impl_->dirty = true;
        return;
    }
    const std::string folder = FolderOf(path_);
    const bool ok = (folder.empty() || MakeDirectories(folder)) &&
                    WriteFileAtomic(path_, FormatRegistryText(impl_->root), 0600);
    impl_->dirty = !ok;  // retried with the next write
}

bool RegistryStore::KeyExists(std::string_view keyPath) const {
    std::lock_guard lock(impl_->mutex);
    return impl_->Find(keyPath) != nullptr;
}

bool RegistryStore::CreateKey(std::string_view keyPath) {
    const auto parts = SplitKeyPath(keyPath);
    if (!parts) {
        return false;
    }
    std::lock_guard lock(impl_->mutex);
    RegNode* node = &impl_->root;
    bool created = false;
    for (std::string_view part : *parts) {
        auto& slot = node->children[ToLowerAscii(part)];
        if (!slot) {
            slot = std::make_unique<RegNode>();
            slot->name = std::string(part);
            created = true;
        }
        node = slot.get();
    }
    if (created || impl_->dirty) {
        WriteLocked();
    }
    return true;
}

bool RegistryStore::DeleteKeyTree(std::string_view keyPath) {
    const auto parts = SplitKeyPath(keyPath);
    if (!parts) {
        return false;
    }
    std::lock_guard lock(impl_->mutex);
    RegNode* parent = &impl_->root;
    for (size_t i = 0; i + 1 < parts->size(); ++i) {
        const auto it = parent->children.find(ToLowerAscii((*parts)[i]));
        if (it == parent->children.end()) {
            return false;
        }
        parent = it->second.get();
    }
    if (parent->children.erase(ToLowerAscii(parts->back())) == 0) {
        return false;
    }
    WriteLocked();
    return true;
}

bool RegistryStore::QueryValue(std::string_view keyPath, std::string_view name,
                               std::string& out) const {
    std::lock_guard lock(impl_->mutex);
    const RegNode* node = impl_->Find(keyPath);
    if (node == nullptr) {
        return false;
    }
    const auto it = node->values.find(ToLowerAscii(name));
    if (it == node->values.end()) {
        return false;
    }
    out = it->second.second;
    return true;
}

bool RegistryStore::SetValue(std::string_view keyPath, std::string_view name,
                             std::string_view value) {
    std::lock_guard lock(impl_->mutex);
    RegNode* node = impl_->Find(keyPath);
    if (node == nullptr) {
        return false;
    }
    auto [it, added] = node->values.try_emplace(ToLowerAscii(name), std::string(name), "");
    if (added || it->second.second != value || impl_->dirty) {
        it->second.second = std::string(value);  // the name keeps its first spelling
        WriteLocked();
    }
    return true;
}

std::vector<std::string> RegistryStore::SubKeys(std::string_view keyPath) const {
    std::vector<std::string> names;
    std::lock_guard lock(impl_->mutex);
    if (const RegNode* node = impl_->Find(keyPath)) {
        for (const auto& [lower, child] : node->children) {
            names.push_back(child->name);
        }
    }
    return names;
}

std::vector<std::pair<std::string, std::string>> RegistryStore::Values(
    std::string_view keyPath) const {
    std::vector<std::pair<std::string, std::string>> values;
    std::lock_guard lock(impl_->mutex);
    if (const RegNode* node = impl_->Find(keyPath)) {
        for (const auto& [lower, entry] : node->values) {
            values.push_back(entry);
        }
    }
    return values;
}

std::vector<std::string> RegistryStore::AllKeys() const {
    std::vector<std::string> keys;
    std::lock_guard lock(impl_->mutex);
    CollectKeys(impl_->root, "", keys);
    return keys;
}

void RegistryStore::BeginBatch() {
    std::lock_guard lock(impl_->mutex);
    ++impl_->batchDepth;
}

void RegistryStore::EndBatch() {
    std::lock_guard lock(impl_->mutex);
    if (impl_->batchDepth > 0 && --impl_->batchDepth == 0 && impl_->dirty) {
        WriteLocked();
    }
}

Registry::Registry(const std::string& dataRoot)
    : hklm_(WithTrailingSlash(dataRoot) + "Registry/HKLM.reg"),
      hkcu_(WithTrailingSlash(dataRoot) + "Registry/HKCU.reg") {}

RegistryStore& Registry::Store(RegRoot root) {
    return root == RegRoot::LocalMachine ? hklm_ : hkcu_;
}

bool RegistryKey::Open(RegRoot root, std::string_view path, bool create) {
    RegistryStore& store = registry_->Store(root);
    if (store.KeyExists(path) || (create && store.CreateKey(path))) {
        root_ = root;
        path_ = std::string(path);
        open_ = true;
        return true;
    }
    if (!create) {
        return false;  // a key held before stays open
    }
    Close();  // a failed creation leaves no key; reads give "", writes do nothing
    return true;
}

void RegistryKey::Close() {
    open_ = false;
    path_.clear();
}

std::string RegistryKey::QueryString(std::string_view name) const {
    std::string value;
    if (open_ && !registry_->Store(root_).QueryValue(path_, name, value)) {
        value.clear();
    }
    return value;
}

void RegistryKey::SetString(std::string_view name, std::string_view value) {
    if (open_) {
        registry_->Store(root_).SetValue(path_, name, value);
    }
}

bool RegistryKey::EnumSubKey(int index, std::string& name) const {
    if (!open_ || index < 0) {
        return false;
    }
    const std::vector<std::string> names = registry_->Store(root_).SubKeys(path_);
    if (static_cast<size_t>(index) >= names.size()) {
        return false;
    }
    name = names[static_cast<size_t>(index)];
    return true;
}

int RegistryKey::SubKeyCount() const {
    return open_ ? static_cast<int>(registry_->Store(root_).SubKeys(path_).size()) : 0;
}

bool RegistryKey::DeleteKey(Registry& registry, RegRoot root, std::string_view path) {
    return registry.Store(root).DeleteKeyTree(path);
}

}  // namespace vardane
