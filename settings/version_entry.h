// One offered version kept from the upgrade manifest.
#pragma once

#include <cstdint>
#include <string>

namespace pelmo {

struct VersionEntry {
    int32_t id = 0;            // version number, as in the VERSION setting
    int32_t packageBytes = 0;  // declared package size in bytes; used only for progress
    std::string sha256{};      // the package's SHA-256, 64 lower-case hex digits; "" when absent
};

}  // namespace pelmo
