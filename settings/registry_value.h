// A handle on one value of the settings store, named by its full path
// ("SOFTWARE\TAVRIN\PELMO\VERSION": key path, last backslash, value name).
#pragma once

#include <cstdint>
#include <string>

#include "platform/registry_store.h"

namespace pelmo {

// The store a value lives in. LocalMachine() is the one the client shares.
struct RegistryRoot {
    std::string storePath;
    static RegistryRoot LocalMachine() { return {platform::DefaultRegistryPath()}; }
};

class RegistryValue {
  public:
    // Splits fullPath at its last backslash; with none, key and name are both
    // the whole text. Opens nothing.
    RegistryValue(const std::string& fullPath, RegistryRoot root);
    virtual ~RegistryValue();  // closes the key if still open
    RegistryValue(const RegistryValue&) = delete;
    RegistryValue& operator=(const RegistryValue&) = delete;

    bool OpenForRead();
    bool OpenForWrite();  // creates the key (and its parents) when absent
    // buffer null: answers the size only. Fails for a missing value or one
    // longer than *size.
    bool QueryRaw(uint32_t* type, uint32_t* size, void* buffer);
    bool SetRaw(uint32_t type, uint32_t size, const void* data);
    void Close();

    const std::string& valueName() const { return valueName_; }
    const std::string& subkeyPath() const { return subkeyPath_; }

  private:
    platform::RegistryKey handle_;
    RegistryRoot root_;
    std::string valueName_;
    std::string subkeyPath_;
};

// A 32-bit integer (REG_DWORD, 4 bytes).
class IntegerRegistryValue : public RegistryValue {
  public:
    using RegistryValue::RegistryValue;
    // 0 when the key or value is missing or longer than 4 bytes; the stored type
    // is not examined.
    int32_t ReadInteger();
    // Creates the key when needed; failures are silent.
    void WriteInteger(int32_t value);
};

// An integer that is on only when it reads exactly 1.
class FlagRegistryValue : public IntegerRegistryValue {
  public:
    using IntegerRegistryValue::IntegerRegistryValue;
    bool ReadFlag() { return ReadInteger() == 1; }
};

// A text: the data up to the first NUL; empty on any failure.
class TextRegistryValue : public RegistryValue {
  public:
    using RegistryValue::RegistryValue;
    std::string ReadText();
};

}  // namespace pelmo
