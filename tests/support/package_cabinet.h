// Builds an upgrade package for tests: one cabinet holding files, compressed
// with MSZIP.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "cabinet/writer/cabinet_writer.h"

namespace pelmo::testing {

// Writes folder/name as a cabinet of files (stored name, content); false with
// the writer's error in *error on failure.
inline bool WritePackageCabinet(const std::string& folder, const std::string& name,
                                const std::vector<std::pair<std::string, std::string>>& files,
                                std::string* error = nullptr) {
    cab::CabinetWriterOptions options;
    options.directory = folder;
    options.cabinetName = [name](int) { return name; };
    cab::CabinetWriter writer(options);
    bool ok = writer.StartFolder([] { return cab::MakeMszipEncoder(6); });
    for (const auto& [stored, content] : files) {
        cab::CabinetFileInfo info;
        info.name = stored;
        ok = ok &&
             writer.AddFile(info, reinterpret_cast<const uint8_t*>(content.data()), content.size());
    }
    ok = ok && writer.Finish();
    if (!ok && error != nullptr) *error = writer.Error();
    return ok;
}

}  // namespace pelmo::testing
