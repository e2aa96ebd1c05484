// The window kept in a scratch file: a real temporary file behind the open
// callback, and an allocator that refuses the window itself.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <set>

#include "tests/cabinet/quantum_test_support.h"

namespace cab {
namespace {

using namespace quantum_test;

// What the callbacks saw; the tests run one at a time.
struct ScratchLog {
    uint32_t refuseFrom = 0xFFFFFFFF;  // allocations of this size or more fail
    int pagesLeft = 1 << 30;           // page-sized allocations still granted
    int opens = 0;
    int openFlags = 0;
    int openMode = 0;
    uint32_t requestedWindow = 0;
    int handle = -1;
    bool closed = false;
    int failWritesAfter = 1 << 30;
    int writes = 0;
    int reads = 0;
    std::set<long> writtenOffsets;
    bool readUnwritten = false;
    long position = 0;
};
ScratchLog log;

void* LimitedAlloc(uint32_t size) {
    if (size >= log.refuseFrom) return nullptr;
    if (size > 4096 && size < 4096 + 64) {
        if (log.pagesLeft == 0) return nullptr;
        --log.pagesLeft;
    }
    return std::malloc(size);
}

int ScratchOpen(const char* path, int flags, int mode) {
    ++log.opens;
    if (std::strcmp(path, "*") != 0) return -1;
    std::memcpy(&log.requestedWindow, path + 2, 4);
    log.openFlags = flags;
    log.openMode = mode;
    std::FILE* file = std::tmpfile();
    if (!file) return -1;
    log.handle = dup(fileno(file));
    std::fclose(file);
    return log.handle;
}

int ScratchRead(int handle, void* buffer, uint32_t count) {
    ++log.reads;
    if (!log.writtenOffsets.count(log.position)) log.readUnwritten = true;
    int n = static_cast<int>(read(handle, buffer, count));
    if (n > 0) log.position += n;
    return n;
}

int ScratchWrite(int handle, const void* buffer, uint32_t count) {
    if (++log.writes > log.failWritesAfter) return -1;
    log.writtenOffsets.insert(log.position);
    int n = static_cast<int>(write(handle, buffer, count));
    if (n > 0) log.position += n;
    return n;
}

int ScratchClose(int handle) {
    log.closed = true;
    return close(handle);
}

long ScratchSeek(int handle, long offset, int origin) {
    long result = lseek(handle, offset, origin == 0 ? SEEK_SET : SEEK_CUR);
    if (result >= 0) log.position = result;
    return result;
}

DecoderServices ScratchServices() {
    DecoderServices services;
    services.alloc = LimitedAlloc;
    services.free = TestFree;
    services.open = ScratchOpen;
    services.read = ScratchRead;
    services.write = ScratchWrite;
    services.close = ScratchClose;
    services.seek = ScratchSeek;
    return services;
}

class QuantumPaged : public ::testing::Test {
  protected:
    void SetUp() override { log = ScratchLog{}; }
};

TEST_F(QuantumPaged, MatchesMemoryModeWithFewPagesResident) {
    const int bits = 16;  // 16 pages of window
    std::vector<uint8_t> data = MixedData(400000, 9);
    EncodedFolder folder = EncodeFolder(data, bits);

    log.refuseFrom = 1u << bits;
    log.pagesLeft = 5;
    DecoderHandle paged = CreateDecoder(bits, ScratchServices());
    ASSERT_NE(paged, nullptr);
    EXPECT_EQ(log.opens, 1);
    EXPECT_EQ(log.openFlags, 0x8102);
    EXPECT_EQ(log.openMode, 0x180);
    EXPECT_EQ(log.requestedWindow, 1u << bits);

    std::vector<uint8_t> out;
    ASSERT_EQ(DecodeFolder(paged, folder, out), CAB_DECODER_OK);
    EXPECT_TRUE(out == data);
    EXPECT_GT(log.writes, 16);  // the window went round through the scratch file
    EXPECT_GT(log.reads, 0);
    EXPECT_FALSE(log.readUnwritten);

    // A reset forgets the pages; the folder decodes the same again.
    ASSERT_EQ(QuantumReset(paged), CAB_DECODER_OK);
    ASSERT_EQ(DecodeFolder(paged, folder, out), CAB_DECODER_OK);
    EXPECT_TRUE(out == data);

    EXPECT_EQ(QuantumDestroy(paged), CAB_DECODER_OK);
    EXPECT_TRUE(log.closed);
}

TEST_F(QuantumPaged, AllPagesResidentNeverTouchTheFile) {
    const int bits = 14;
    std::vector<uint8_t> data = MixedData(100000, 4);
    EncodedFolder folder = EncodeFolder(data, bits);
    log.refuseFrom = 1u << bits;
    DecoderHandle paged = CreateDecoder(bits, ScratchServices());
    ASSERT_NE(paged, nullptr);
    std::vector<uint8_t> out;
    ASSERT_EQ(DecodeFolder(paged, folder, out), CAB_DECODER_OK);
    EXPECT_TRUE(out == data);
    EXPECT_EQ(log.writes, 0);
    EXPECT_EQ(log.reads, 0);
    QuantumDestroy(paged);
}

// Windows of fewer than three pages never page: they need less memory than
// three page buffers would.
TEST_F(QuantumPaged, SmallWindowsStayInMemory) {
    for (int bits : {10, 11, 12, 13}) {
        log = ScratchLog{};
        log.refuseFrom = 1u << bits;
        uint32_t maxBlock = 32768;
        uint32_t bufferSize = 0;
        DecoderHandle handle = nullptr;
        EXPECT_EQ(QuantumCreate(&maxBlock, bits, 0, &bufferSize, ScratchServices(), &handle),
                  CAB_DECODER_NO_MEMORY);
        EXPECT_EQ(log.opens, 0);
    }
}

TEST_F(QuantumPaged, WithoutScratchFileOrPagesCreateFails) {
    uint32_t maxBlock = 32768;
    uint32_t bufferSize = 0;
    DecoderHandle handle = nullptr;
    // No open callback.
    log.refuseFrom = 1u << 15;
    DecoderServices services = ScratchServices();
    services.open = nullptr;
    EXPECT_EQ(QuantumCreate(&maxBlock, 15, 0, &bufferSize, services, &handle),
              CAB_DECODER_NO_MEMORY);
    // Fewer than three pages.
    log.pagesLeft = 2;
    EXPECT_EQ(QuantumCreate(&maxBlock, 15, 0, &bufferSize, ScratchServices(), &handle),
              CAB_DECODER_NO_MEMORY);
    EXPECT_EQ(log.opens, 1);
    EXPECT_TRUE(log.closed);
    EXPECT_EQ(handle, nullptr);
    // Three pages are enough.
    log = ScratchLog{};
    log.refuseFrom = 1u << 15;
    log.pagesLeft = 3;
    ASSERT_EQ(QuantumCreate(&maxBlock, 15, 0, &bufferSize, ScratchServices(), &handle),
              CAB_DECODER_OK);
    std::vector<uint8_t> data = MixedData(150000, 5);
    EncodedFolder folder = EncodeFolder(data, 15);
    std::vector<uint8_t> out;
    ASSERT_EQ(DecodeFolder(handle, folder, out), CAB_DECODER_OK);
    EXPECT_TRUE(out == data);
    QuantumDestroy(handle);
}

// A failed page transfer fails its block and every later one until a reset.
TEST_F(QuantumPaged, ScratchFailureFailsUntilReset) {
    const int bits = 15;
    std::vector<uint8_t> data = MixedData(200000, 6);
    EncodedFolder folder = EncodeFolder(data, bits);
    log.refuseFrom = 1u << bits;
    log.pagesLeft = 3;
    log.failWritesAfter = 0;
    DecoderHandle paged = CreateDecoder(bits, ScratchServices());
    ASSERT_NE(paged, nullptr);
    std::vector<uint8_t> output(32768);
    uint32_t size = folder.sizes[0];
    EXPECT_EQ(
        QuantumDecompress(paged, folder.blocks[0].data(),
                          static_cast<uint32_t>(folder.blocks[0].size()), output.data(), &size),
        CAB_DECODER_DATA_ERROR);
    log.failWritesAfter = 1 << 30;
    size = folder.sizes[1];
    EXPECT_EQ(
        QuantumDecompress(paged, folder.blocks[1].data(),
                          static_cast<uint32_t>(folder.blocks[1].size()), output.data(), &size),
        CAB_DECODER_DATA_ERROR);
    ASSERT_EQ(QuantumReset(paged), CAB_DECODER_OK);
    std::vector<uint8_t> out;
    ASSERT_EQ(DecodeFolder(paged, folder, out), CAB_DECODER_OK);
    EXPECT_TRUE(out == data);
    QuantumDestroy(paged);
}

}  // namespace
}  // namespace cab
