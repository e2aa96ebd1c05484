// One offered version kept from the upgrade manifest.
#pragma once

#include <cstdint>

namespace pelmo {

struct VersionEntry {
    int32_t id = 0;            // version number, as in the VERSION setting
    int32_t packageBytes = 0;  // declared package size in bytes; used only for progress
};

}  // namespace pelmo
