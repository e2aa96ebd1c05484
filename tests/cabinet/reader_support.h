// Helpers for the reader and writer tests: building cabinets with the writer
// into a scratch folder, patching their bytes, and running CabCopy with
// recording callbacks on real files.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "cabinet/cabinet.h"
#include "cabinet/writer/cabinet_writer.h"
#include "tests/support/cabinet_folders.h"
#include "tests/support/scratch_folder.h"

namespace cab_test {

namespace fs = std::filesystem;

// Fault injection for the callbacks (reset by every ScratchTest).
struct Faults {
    int allocFailAt = -1;  // the n-th allocation (from 0) answers null
    int allocCount = 0;
    int writeShortAt = -1;  // the n-th write writes one byte less
    int writeCount = 0;
    int closeFailFrom = -1;  // closes of cabinet handles fail from the n-th on
    int closeCount = 0;
    int openCount = 0;
    int readCount = 0;
    long liveAllocations = 0;
};
extern Faults g_faults;

void* TestAlloc(uint32_t size);
void TestFree(void* memory);
int TestOpen(const char* path, int flags, int mode);
int TestRead(int handle, void* buffer, uint32_t count);
int TestWrite(int handle, const void* buffer, uint32_t count);
int TestClose(int handle);
long TestSeek(int handle, long offset, int origin);

// One notification as the callback saw it.
struct Event {
    int kind = 0;
    int32_t size = 0;
    std::string text1, text2, text3;
    int fileHandle = 0;
    uint16_t date = 0, time = 0, attributes = 0, setId = 0, cabinetIndex = 0, folderIndex = 0;
    int error = 0;
};

// Records every notification and answers through `answer` (default: kind 2
// opens a file under `outputDirectory`, kind 3 closes it, others 0).
struct Recorder {
    std::vector<Event> events;
    std::vector<CabDecryptRequest> decrypts;
    std::vector<std::vector<uint8_t>> decryptData;  // the block bytes seen by the decrypt callback
    std::function<int(int kind, CabNotification* n)> answer;
    std::function<int(CabDecryptRequest* r)> decryptAnswer;
    fs::path outputDirectory;
    std::vector<std::string> Names(int kind) const;
    std::vector<int> Kinds() const;
};

int RecordingNotify(int kind, CabNotification* n);
int RecordingDecrypt(CabDecryptRequest* r);

// Default answers: kind 2 creates outputDirectory/name, kind 3 closes it.
int DefaultAnswer(Recorder& recorder, int kind, CabNotification* n);

struct TestFile {
    std::string name;
    std::vector<uint8_t> data;
    uint16_t attributes = 0x20;
    uint16_t date = 0x5A21;
    uint16_t time = 0x6000;
};

// The files of one folder and the encoder that compresses them.
struct EncodedFolder {
    pelmo::testing::FolderEncoderMaker makeEncoder;
    std::vector<TestFile> files;
};

std::vector<uint8_t> Pattern(size_t size, uint32_t seed);
std::vector<uint8_t> ReadAll(const fs::path& path);
void WriteAll(const fs::path& path, const std::vector<uint8_t>& bytes);

class ScratchTest : public ::testing::Test {
  protected:
    void SetUp() override;

    // Writes one cabinet (or a set) of stored folders: `folders` lists the
    // files of each folder. Answers the cabinet paths.
    std::vector<std::string> Build(const std::vector<std::vector<TestFile>>& folders,
                                   cab::CabinetWriterOptions options = {});
    // The same with each folder's own encoder.
    std::vector<std::string> BuildFolders(const std::vector<EncodedFolder>& folders,
                                          cab::CabinetWriterOptions options = {});
    std::vector<std::string> Build(const std::vector<TestFile>& files,
                                   cab::CabinetWriterOptions options = {}) {
        return Build(std::vector<std::vector<TestFile>>{files}, std::move(options));
    }

    // Runs CabCopy on `cabinet` (a path) with a fresh context.
    int Copy(const std::string& cabinet, Recorder& recorder, bool withDecrypt = false);
    // The same on a given context.
    int CopyWith(CabContext* context, const std::string& cabinet, Recorder& recorder,
                 bool withDecrypt = false);
    CabContext* NewContext();

    pelmo::testing::ScratchFolder scratch_;
    fs::path dir_ = scratch_.path();  // built cabinets; extracted files go to "out"
    CabErrorRecord error_{};
};

inline uint32_t ReadLe32ForTest(const std::vector<uint8_t>& b, size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}
inline void PutLe16ForTest(std::vector<uint8_t>& b, size_t at, uint16_t v) {
    b[at] = static_cast<uint8_t>(v);
    b[at + 1] = static_cast<uint8_t>(v >> 8);
}
inline void PutLe32ForTest(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// Offsets inside a cabinet built without reserves or neighbours.
inline constexpr size_t kFolderTableOffset = 36;

}  // namespace cab_test
