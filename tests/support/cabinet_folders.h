// Writes cabinets for tests through the cabinet writer: folders of files, each
// folder with its own encoder. Any failure of the writer fails the running
// test with the writer's message.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cabinet/writer/cabinet_writer.h"
#include "cabinet/writer/folder_encoder.h"

namespace pelmo::testing {

using FolderEncoderMaker = std::function<std::unique_ptr<cab::FolderEncoder>()>;

// One file of a folder: its entry in the file table and its bytes.
struct CabinetFolderFile {
    cab::CabinetFileInfo info;
    const uint8_t* data = nullptr;
    size_t size = 0;
};

struct CabinetFolder {
    FolderEncoderMaker makeEncoder;
    std::vector<CabinetFolderFile> files;
};

// Writes the folders in order as one cabinet, or as a set where the options
// limit the size; answers the paths of the cabinets written.
inline std::vector<std::string> WriteCabinetFolders(const cab::CabinetWriterOptions& options,
                                                    const std::vector<CabinetFolder>& folders) {
    cab::CabinetWriter writer(options);
    for (const CabinetFolder& folder : folders) {
        EXPECT_TRUE(writer.StartFolder(folder.makeEncoder)) << writer.Error();
        for (const CabinetFolderFile& file : folder.files) {
            EXPECT_TRUE(writer.AddFile(file.info, file.data, file.size)) << writer.Error();
        }
    }
    EXPECT_TRUE(writer.Finish()) << writer.Error();
    return writer.CabinetPaths();
}

}  // namespace pelmo::testing
