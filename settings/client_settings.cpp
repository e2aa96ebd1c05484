#include "settings/client_settings.h"

#include "settings/registry_value.h"

namespace pelmo {

namespace {

std::string PathOf(const char* name) { return std::string(CLIENT_SETTINGS_KEY) + name; }

bool IsWhiteSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

int32_t ClientSettings::ReadInstalledVersion() {
    IntegerRegistryValue value(PathOf("VERSION"), RegistryRoot::LocalMachine());
    return value.ReadInteger();
}

void ClientSettings::WriteInstalledVersion(int32_t version) {
    IntegerRegistryValue value(PathOf("VERSION"), RegistryRoot::LocalMachine());
    value.WriteInteger(version);
}

std::string ClientSettings::ReadClientFolder() {
    TextRegistryValue value(PathOf("EXEPATH"), RegistryRoot::LocalMachine());
    std::string path = value.ReadText();
    // Paths on disk use '/'; a path written with backslashes is cut the same way.
    const size_t slash = path.find_last_of("/\\");
    if (slash != std::string::npos) path.resize(slash);
    return path;
}

std::string ClientSettings::ReadManifestAddress() {
    TextRegistryValue value(PathOf("UPGRADECFGFILE"), RegistryRoot::LocalMachine());
    const std::string text = value.ReadText();
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && IsWhiteSpace(text[begin])) ++begin;
    while (end > begin && IsWhiteSpace(text[end - 1])) --end;
    return text.substr(begin, end - begin);
}

bool ClientSettings::ReadAutoCheck() {
    FlagRegistryValue value(PathOf("UPGRADEAUTORUN"), RegistryRoot::LocalMachine());
    return value.ReadFlag();
}

void ClientSettings::WriteAutoCheck(bool on) {
    IntegerRegistryValue value(PathOf("UPGRADEAUTORUN"), RegistryRoot::LocalMachine());
    value.WriteInteger(on ? 1 : 0);
}

}  // namespace pelmo
