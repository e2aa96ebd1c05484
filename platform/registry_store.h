// The settings store: typed values under backslash-separated keys, kept in one
// SQLite database file. Keys and value names compare case-insensitively; a key
// may exist without values; data are the raw bytes (a dword is 4 bytes little
// endian, a text its bytes and a terminating NUL). Several processes may read
// and write the same file at once.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct sqlite3;

namespace pelmo::platform {

inline constexpr uint32_t REG_NONE = 0;
inline constexpr uint32_t REG_SZ = 1;
inline constexpr uint32_t REG_DWORD = 4;

// $PELMO_REGISTRY if set, else ${XDG_CONFIG_HOME:-$HOME/.config}/pelmo/registry.db.
std::string DefaultRegistryPath();

struct RegistryEntry {
    std::string name;
    uint32_t type = REG_NONE;
    std::vector<uint8_t> data;
};

// An open key of one store file; closed when destroyed.
class RegistryKey {
  public:
    RegistryKey() = default;
    ~RegistryKey() { Close(); }
    RegistryKey(RegistryKey&& other) noexcept;
    RegistryKey& operator=(RegistryKey&& other) noexcept;
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;

    // Opens an existing key for reading. Fails when the file, or the key in
    // it, does not exist; never creates the file.
    bool OpenForRead(const std::string& storePath, const std::string& key);
    // Opens the key for reading and writing, creating the file, the key and
    // every missing parent key. A file that is not a settings store (another
    // database, or no database) is refused, not changed.
    bool OpenForWrite(const std::string& storePath, const std::string& key);
    // Why the last open or SetValue failed: the system's reason, or that the
    // file is not a settings store. Empty when the file or the key is simply
    // absent.
    const std::string& error() const { return error_; }
    bool IsOpen() const { return db_ != nullptr; }
    void Close();

    // Reads a value as the registry does: with buffer null, only *size (the
    // data's length) and *type are answered; otherwise the data are copied when
    // they fit in *size bytes, and *size becomes their length. Fails when the
    // value is missing or its data do not fit (then *size is the length
    // needed). type may be null.
    bool QueryValue(const std::string& name, uint32_t* type, void* buffer, uint32_t* size) const;
    // Creates or replaces a value (key opened for writing).
    bool SetValue(const std::string& name, uint32_t type, const void* data, uint32_t size);
    // Removes a value; false when it does not exist.
    bool DeleteValue(const std::string& name);
    // Every value of the key, in the order they were first set.
    bool ListValues(std::vector<RegistryEntry>* entries) const;

  private:
    sqlite3* db_ = nullptr;
    std::string key_;
    bool writable_ = false;
    std::string error_;
};

}  // namespace pelmo::platform
