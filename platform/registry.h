// The settings store: two file-backed registries (HKLM and HKCU) under the
// data root's Registry/ folder, reached through RegistryKey.
//
// File format (UTF-8 text, human-editable):
//   [SOFTWARE\Vardane\Connection]
//   @="the key's default (unnamed) value"
//   "MaxTasks"="1"
// Inside quotes \\, \", \n and \r are escaped. Key and value names are
// case-insensitive and keep the case they were created with; sub-keys
// enumerate in case-insensitive alphabetical order. Every write replaces the
// file atomically with mode 0600. A file that does not parse is set aside
// under a new name and the store starts empty.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace vardane {

enum class RegRoot { LocalMachine, CurrentUser };

// One file-backed hive. Thread-safe.
class RegistryStore {
  public:
    // Loads path if it exists. A file that does not parse is renamed to
    // path + ".corrupt-<time>" and the store starts empty.
    explicit RegistryStore(std::string path);
    ~RegistryStore();
    RegistryStore(const RegistryStore&) = delete;
    RegistryStore& operator=(const RegistryStore&) = delete;

    const std::string& Path() const { return path_; }
    // Name the corrupt file was moved to at load, empty when none.
    const std::string& SetAsideName() const { return setAside_; }

    bool KeyExists(std::string_view keyPath) const;
    // Creates the key and its missing parents. False when the path is invalid
    // (empty component).
    bool CreateKey(std::string_view keyPath);
    // Deletes the key with all its sub-keys; false when it did not exist.
    bool DeleteKeyTree(std::string_view keyPath);
    // value name "" is the key's default (unnamed) value. False when the key
    // or the value does not exist.
    bool QueryValue(std::string_view keyPath, std::string_view name, std::string& out) const;
    // False when the key does not exist.
    bool SetValue(std::string_view keyPath, std::string_view name, std::string_view value);
    // Direct sub-key names in case-insensitive alphabetical order.
    std::vector<std::string> SubKeys(std::string_view keyPath) const;
    // Every (name, value) of a key in case-insensitive order of names; the
    // default value has the name "".
    std::vector<std::pair<std::string, std::string>> Values(std::string_view keyPath) const;
    // Every key path of the store in case-insensitive order.
    std::vector<std::string> AllKeys() const;

    // While a batch is open, writes go to memory only; closing the outermost
    // batch writes the file once. Used by start-up passes that set many values.
    void BeginBatch();
    void EndBatch();

  private:
    // Writes the file, or marks it for the end of the batch. Mutex held.
    void WriteLocked();

    struct Impl;
    std::unique_ptr<Impl> impl_;
    std::string path_;
    std::string setAside_;
};

// Both hives of one data root.
class Registry {
  public:
    // Opens (and creates on first write) <dataRoot>Registry/HKLM.reg and
    // <dataRoot>Registry/HKCU.reg.
    explicit Registry(const std::string& dataRoot);
    RegistryStore& Store(RegRoot root);

  private:
    RegistryStore hklm_;
    RegistryStore hkcu_;
};

// Holds one open key. Mirrors the small wrapper the program uses everywhere.
class RegistryKey {
  public:
    explicit RegistryKey(Registry& registry) : registry_(&registry) {}
    ~RegistryKey() { Close(); }

    // Opens root\path. Without create, false when the key does not exist.
    // With create, the key is made when missing and the result is true in
    // every case (a failed creation leaves no key: reads give "", writes do
    // nothing).
    bool Open(RegRoot root, std::string_view path, bool create);
    void Close();
    bool IsOpen() const { return open_; }
    const std::string& KeyPath() const { return path_; }

    // "" when the value (or the key) is missing.
    std::string QueryString(std::string_view name) const;
    void SetString(std::string_view name, std::string_view value);
    std::string QueryDefault() const { return QueryString(""); }
    void SetDefault(std::string_view value) { SetString("", value); }

    // Name of sub-key `index` (case-insensitive alphabetical order); false
    // past the last one.
    bool EnumSubKey(int index, std::string& name) const;
    int SubKeyCount() const;
    // Deletes root\path with all its sub-keys.
    static bool DeleteKey(Registry& registry, RegRoot root, std::string_view path);

  private:
    Registry* registry_;
    RegRoot root_ = RegRoot::CurrentUser;
    std::string path_;
    bool open_ = false;
};

}  // namespace vardane
