// pelmo-tool reg: reads and writes the settings store at $PELMO_REGISTRY (else
// the user's default store), under the client's key unless --key names another.
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/registry_store.h"
#include "tools/commands.h"

namespace pelmo::tools {

namespace {

using platform::RegistryEntry;
using platform::RegistryKey;

constexpr const char* DEFAULT_KEY = "SOFTWARE\\TAVRIN\\PELMO";

void PrintRegUsage(std::FILE* out) {
    std::fputs(
        "usage: pelmo-tool reg [--key KEY] get NAME\n"
        "       pelmo-tool reg [--key KEY] set NAME dword|sz VALUE\n"
        "       pelmo-tool reg [--key KEY] delete NAME\n"
        "       pelmo-tool reg [--key KEY] list\n"
        "The store is $PELMO_REGISTRY, else ${XDG_CONFIG_HOME:-$HOME/.config}/pelmo/registry.db;\n"
        "KEY defaults to SOFTWARE\\TAVRIN\\PELMO. 'get' prints a dword in decimal and a text\n"
        "as it is, and exits 1 when the value is absent; 'list' prints NAME TYPE VALUE lines.\n",
        out);
}

int Fail(const std::string& message, int status) {
    std::fprintf(stderr, "pelmo-tool reg: %s\n", message.c_str());
    return status;
}

std::string TypeName(uint32_t type) {
    if (type == platform::REG_DWORD) return "dword";
    if (type == platform::REG_SZ) return "sz";
    return "type" + std::to_string(type);
}

// A dword as the signed number the settings compare; a text up to its first
// NUL; anything else as hexadecimal bytes.
std::string FormatValue(uint32_t type, const std::vector<uint8_t>& data) {
    if (type == platform::REG_DWORD && data.size() == 4) {
        const uint32_t bits = uint32_t{data[0]} | uint32_t{data[1]} << 8 | uint32_t{data[2]} << 16 |
                              uint32_t{data[3]} << 24;
        return std::to_string(static_cast<int32_t>(bits));
    }
    if (type == platform::REG_SZ) {
        std::string text(data.begin(), data.end());
        return text.substr(0, text.find('\0'));
    }
    std::string hex;
    char byte[3];
    for (uint8_t b : data) {
        std::snprintf(byte, sizeof byte, "%02x", b);
        hex += byte;
    }
    return hex;
}

// Decimal or 0x hexadecimal, signed or unsigned 32-bit.
bool ParseDword(const std::string& text, uint32_t* value) {
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    const long long parsed = std::strtoll(text.c_str(), &end, 0);
    if (errno != 0 || *end != '\0' || parsed < INT32_MIN || parsed > UINT32_MAX) return false;
    *value = static_cast<uint32_t>(parsed);
    return true;
}

// False when the value is absent; a store that cannot be read says why in
// *error.
bool FindValue(const std::string& store, const std::string& key, const std::string& name,
               RegistryEntry* entry, std::string* error) {
    RegistryKey handle;
    if (!handle.OpenForRead(store, key)) {
        if (!handle.error().empty()) *error = store + ": " + handle.error();
        return false;
    }
    uint32_t size = 0;
    if (!handle.QueryValue(name, &entry->type, nullptr, &size)) return false;
    entry->data.resize(size);
    return handle.QueryValue(name, &entry->type, entry->data.data(), &size);
}

int Get(const std::string& store, const std::string& key, const std::string& name) {
    RegistryEntry entry;
    std::string error;
    if (!FindValue(store, key, name, &entry, &error)) {
        return Fail(error.empty() ? name + ": no such value" : error, 1);
    }
    std::printf("%s\n", FormatValue(entry.type, entry.data).c_str());
    return 0;
}

int Set(const std::string& store, const std::string& key, const std::string& name,
        const std::string& type, const std::string& text) {
    std::vector<uint8_t> data;
    uint32_t regType;
    if (type == "dword") {
        uint32_t value = 0;
        if (!ParseDword(text, &value)) return Fail("not a 32-bit number: " + text, 2);
        regType = platform::REG_DWORD;
        data = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
    } else if (type == "sz") {
        regType = platform::REG_SZ;
        data.assign(text.begin(), text.end());
        data.push_back(0);
    } else {
        return Fail("unknown type '" + type + "' (dword or sz)", 2);
    }
    RegistryKey handle;
    if (!handle.OpenForWrite(store, key) ||
        !handle.SetValue(name, regType, data.data(), static_cast<uint32_t>(data.size()))) {
        return Fail("cannot write " + store + ": " + handle.error(), 1);
    }
    return 0;
}

int Delete(const std::string& store, const std::string& key, const std::string& name) {
    RegistryEntry entry;
    std::string error;
    if (!FindValue(store, key, name, &entry, &error)) {
        return Fail(error.empty() ? name + ": no such value" : error, 1);
    }
    RegistryKey handle;
    if (!handle.OpenForWrite(store, key) || !handle.DeleteValue(name)) {
        return Fail("cannot delete " + name, 1);
    }
    return 0;
}

int List(const std::string& store, const std::string& key) {
    RegistryKey handle;
    if (!handle.OpenForRead(store, key)) {
        if (!handle.error().empty()) return Fail(store + ": " + handle.error(), 1);
        return 0;  // no key: no values
    }
    std::vector<RegistryEntry> entries;
    if (!handle.ListValues(&entries)) return Fail("cannot read " + store, 1);
    for (const RegistryEntry& entry : entries) {
        std::printf("%s %s %s\n", entry.name.c_str(), TypeName(entry.type).c_str(),
                    FormatValue(entry.type, entry.data).c_str());
    }
    return 0;
}

}  // namespace

int RunRegCommand(const Args& args) {
    std::string key = DEFAULT_KEY;
    std::vector<std::string> words;
    bool options = true;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (options && arg == "--") {
            options = false;
        } else if (options && (arg == "--help" || arg == "-h")) {
            PrintRegUsage(stdout);
            return 0;
        } else if (options && arg == "--key") {
            if (i + 1 == args.size()) return Fail("--key needs a key", 2);
            key = args[++i];
        } else {
            words.push_back(arg);
        }
    }
    const std::string store = platform::DefaultRegistryPath();
    const std::string command = words.empty() ? "" : words[0];
    if (command == "get" && words.size() == 2) return Get(store, key, words[1]);
    if (command == "set" && words.size() == 4) return Set(store, key, words[1], words[2], words[3]);
    if (command == "delete" && words.size() == 2) return Delete(store, key, words[1]);
    if (command == "list" && words.size() == 1) return List(store, key);
    PrintRegUsage(stderr);
    return 2;
}

}  // namespace pelmo::tools
