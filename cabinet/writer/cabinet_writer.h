// Writing cabinets: files go into folders, each folder's stream is cut into
// frames of 32768 bytes and turned into data blocks by the folder's encoder.
// With a maximum cabinet size the output becomes a set of cabinets: data
// blocks are split across cabinet ends and files continue into the next
// cabinet. A folder that crosses a cabinet end is closed after the file that
// crosses, so every file that begins in a cabinet can be read starting there.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cabinet/writer/folder_encoder.h"

namespace cab {

struct CabinetWriterOptions {
    // Where the cabinets go; cabinetName(i) names the i-th cabinet of the set
    // (from 0) both on disk and in its neighbours' previous/next fields.
    std::string directory = ".";
    std::function<std::string(int)> cabinetName;
    std::function<std::string(int)> diskName;
    uint32_t maxCabinetSize = 0;  // 0: no limit, a single cabinet
    bool checksums = true;
    uint16_t headerReserveSize = 0;
    uint8_t folderReserveSize = 0;
    uint8_t blockReserveSize = 0;
    bool reserveFlag = false;  // write the reserve descriptor even when all sizes are 0
    // Close a folder that crossed a cabinet end after the file that crossed,
    // so that each cabinet can be read on its own. Without it, later files
    // carry on in the continued folder (as other producers' sets do).
    bool newFolderAfterCrossing = true;
    uint16_t setId = 0;
    uint16_t firstCabinetIndex = 0;
};

struct CabinetFileInfo {
    std::string name;      // as stored: "\" separates subfolders
    uint16_t date = 0x21;  // MS-DOS date (1980-01-01)
    uint16_t time = 0;     // MS-DOS time
    uint16_t attributes = 0x20;
};

// Produces the bytes of a file: fills up to `count` bytes, answers the number
// filled (0 at the end) or -1 on failure.
using FileSource = std::function<long(uint8_t* buffer, size_t count)>;

class CabinetWriter {
  public:
    explicit CabinetWriter(CabinetWriterOptions options);
    ~CabinetWriter();
    CabinetWriter(const CabinetWriter&) = delete;
    CabinetWriter& operator=(const CabinetWriter&) = delete;

    // Starts a new folder; `makeEncoder` is called again whenever the writer
    // has to start another folder of the same kind.
    bool StartFolder(std::function<std::unique_ptr<FolderEncoder>()> makeEncoder);
    bool AddFile(const CabinetFileInfo& info, const uint8_t* data, size_t size);
    bool AddFile(const CabinetFileInfo& info, uint64_t size, const FileSource& source);
    // Writes the last cabinet. Nothing may be added afterwards.
    bool Finish();

    const std::string& Error() const { return error_; }
    // Paths of the cabinets written so far.
    const std::vector<std::string>& CabinetPaths() const { return paths_; }

  private:
    struct FileRecord;
    struct CabinetFolder;
    struct Cabinet;

    bool Failed(std::string message);
    bool EndFolder();
    bool BeginFolder();
    bool EmitFrame(bool lastFrame);
    bool PlaceBlock(const std::vector<uint8_t>& block, uint32_t uncompressedSize, uint64_t start,
                    uint64_t end, bool lastFrame);
    bool PlacePart(const uint8_t* data, uint32_t size, uint32_t uncompressedSize,
                   const std::vector<size_t>& touching);
    bool OpenCabinet();
    bool CloseCabinet(bool hasNext, uint64_t homedEnd);
    uint32_t HeaderSize(const Cabinet& cabinet) const;
    uint32_t EntrySize(size_t file) const;
    bool InCabinet(size_t file) const;
    std::string CabinetName(int index) const;
    std::string DiskName(int index) const;

    CabinetWriterOptions options_;
    std::string error_;
    std::vector<std::string> paths_;
    std::vector<FileRecord> files_;
    std::unique_ptr<Cabinet> cabinet_;
    int cabinetCount_ = 0;  // cabinets opened so far

    // The folder being filled.
    std::function<std::unique_ptr<FolderEncoder>()> makeEncoder_;
    std::unique_ptr<FolderEncoder> encoder_;
    int folderSerial_ = -1;
    bool folderOpen_ = false;
    bool folderCrossed_ = false;
    bool folderHasBlocks_ = false;
    uint64_t folderSize_ = 0;
    uint64_t frameStart_ = 0;
    std::vector<uint8_t> frame_;
    std::vector<size_t> pending_;  // files of this folder not yet fully placed
    bool finished_ = false;
};

}  // namespace cab
