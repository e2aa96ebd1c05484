#include "platform/cabinet_file_io.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "tests/support/scratch_folder.h"

namespace pelmo::platform {
namespace {

namespace fs = std::filesystem;

class CabinetFileIo : public ::testing::Test {
  protected:
    pelmo::testing::ScratchFolder scratch_;
    fs::path dir_ = scratch_.path();
};

TEST_F(CabinetFileIo, TranslatesTheLibraryFlagWords) {
    EXPECT_EQ(TranslateCabinetOpenFlags(0x8000), O_RDONLY | O_CLOEXEC);
    EXPECT_EQ(TranslateCabinetOpenFlags(0x8000 | 0x1 | 0x100 | 0x200),
              O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC);
    EXPECT_EQ(TranslateCabinetOpenFlags(0x2 | 0x400 | 0x100 | 0x20 | 0x4000),
              O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC);
    EXPECT_EQ(TranslateCabinetOpenMode(0x180), 0666u);
    EXPECT_EQ(TranslateCabinetOpenMode(0x100), 0444u);
}

TEST_F(CabinetFileIo, CreatesWritesSeeksAndReadsRealFiles) {
    const std::string path = (dir_ / "f").string();
    EXPECT_EQ(CabinetFileOpen(path.c_str(), 0x8000, 0x180), -1);  // read-only does not create
    int fd = CabinetFileOpen(path.c_str(), 0x8000 | 0x1 | 0x100 | 0x200, 0x180);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(CabinetFileWrite(fd, "hello world", 11), 11);
    EXPECT_EQ(CabinetFileClose(fd), 0);
    // Exclusive creation of an existing file fails; truncation empties it.
    EXPECT_EQ(CabinetFileOpen(path.c_str(), 0x1 | 0x100 | 0x400, 0x180), -1);
    fd = CabinetFileOpen(path.c_str(), 0x8000, 0x180);
    ASSERT_GE(fd, 0);
    char buffer[32] = {};
    EXPECT_EQ(CabinetFileSeek(fd, 6, 0), 6);
    EXPECT_EQ(CabinetFileSeek(fd, 0, 1), 6);
    EXPECT_EQ(CabinetFileRead(fd, buffer, 32), 5);  // short only at the end
    EXPECT_EQ(std::string(buffer), "world");
    EXPECT_EQ(CabinetFileSeek(fd, -1, 2), 10);
    EXPECT_EQ(CabinetFileSeek(fd, -100, 0), -1);
    EXPECT_EQ(CabinetFileSeek(fd, 0, 7), -1);
    EXPECT_EQ(CabinetFileWrite(fd, "x", 1), -1);  // opened read-only
    EXPECT_EQ(CabinetFileClose(fd), 0);
    EXPECT_EQ(CabinetFileClose(fd), -1);
    fd = CabinetFileOpen(path.c_str(), 0x1 | 0x200, 0);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(CabinetFileClose(fd), 0);
    EXPECT_EQ(fs::file_size(path), 0u);
    EXPECT_EQ(CabinetFileRead(-1, buffer, 1), -1);
}

}  // namespace
}  // namespace pelmo::platform
