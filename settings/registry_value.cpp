#include "settings/registry_value.h"

#include <cstring>
#include <vector>

namespace pelmo {

RegistryValue::RegistryValue(const std::string& fullPath, RegistryRoot root)
    : root_(std::move(root)) {
    const size_t slash = fullPath.rfind('\\');
    if (slash == std::string::npos) {
        valueName_ = fullPath;
        subkeyPath_ = fullPath;
    } else {
        valueName_ = fullPath.substr(slash + 1);
        subkeyPath_ = fullPath.substr(0, slash);
    }
}

RegistryValue::~RegistryValue() { Close(); }

bool RegistryValue::OpenForRead() { return handle_.OpenForRead(root_.storePath, subkeyPath_); }

bool RegistryValue::OpenForWrite() { return handle_.OpenForWrite(root_.storePath, subkeyPath_); }

bool RegistryValue::QueryRaw(uint32_t* type, uint32_t* size, void* buffer) {
    return handle_.QueryValue(valueName_, type, buffer, size);
}

bool RegistryValue::SetRaw(uint32_t type, uint32_t size, const void* data) {
    return handle_.SetValue(valueName_, type, data, size);
}

void RegistryValue::Close() { handle_.Close(); }

int32_t IntegerRegistryValue::ReadInteger() {
    uint8_t bytes[4] = {0, 0, 0, 0};
    if (OpenForRead()) {
        uint32_t type = 0;
        uint32_t size = sizeof bytes;
        // Like the registry: a shorter value fills the low bytes, a longer one
        // fails and leaves 0. Neither the type nor the result is examined.
        if (!QueryRaw(&type, &size, bytes)) std::memset(bytes, 0, sizeof bytes);
        Close();
    }
    const uint32_t value = uint32_t{bytes[0]} | uint32_t{bytes[1]} << 8 | uint32_t{bytes[2]} << 16 |
                           uint32_t{bytes[3]} << 24;
    return static_cast<int32_t>(value);
}

void IntegerRegistryValue::WriteInteger(int32_t value) {
    if (!OpenForWrite()) return;
    const auto bits = static_cast<uint32_t>(value);
    const uint8_t bytes[4] = {static_cast<uint8_t>(bits), static_cast<uint8_t>(bits >> 8),
                              static_cast<uint8_t>(bits >> 16), static_cast<uint8_t>(bits >> 24)};
    SetRaw(platform::REG_DWORD, sizeof bytes, bytes);
    Close();
}

std::string TextRegistryValue::ReadText() {
    if (!OpenForRead()) return {};
    uint32_t type = 0;
    uint32_t size = 0;
    std::string text;
    if (QueryRaw(&type, &size, nullptr)) {
        std::vector<char> buffer(size);
        if (QueryRaw(&type, &size, buffer.data())) {
            text.assign(buffer.data(), size);
            text.resize(std::strlen(text.c_str()));
        }
    }
    Close();
    return text;
}

}  // namespace pelmo
