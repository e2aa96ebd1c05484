// The four settings the upgrader shares with the client, under the key
// SOFTWARE\TAVRIN\PELMO of the settings store. Stateless: every call opens the
// key, reads or writes one value and closes it again. Reads never fail (a
// missing value gives 0, false or empty text); failed writes are silent.
#pragma once

#include <cstdint>
#include <string>

namespace pelmo {

inline constexpr const char* CLIENT_SETTINGS_KEY = "SOFTWARE\\TAVRIN\\PELMO\\";

class ClientSettings {
  public:
    // VERSION: the installed client version; 0 when absent.
    static int32_t ReadInstalledVersion();
    static void WriteInstalledVersion(int32_t version);
    // EXEPATH cut before its last '/' or backslash (the whole text without one).
    static std::string ReadClientFolder();
    // UPGRADECFGFILE without leading and trailing white space.
    static std::string ReadManifestAddress();
    // UPGRADEAUTORUN is exactly 1.
    static bool ReadAutoCheck();
    // Stores 1 for on, 0 for off.
    static void WriteAutoCheck(bool on);
};

}  // namespace pelmo
