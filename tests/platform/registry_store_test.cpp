// The settings store against a real database file.
#include "platform/registry_store.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "tests/support/scratch_folder.h"

namespace pelmo::platform {
namespace {

namespace fs = std::filesystem;

class RegistryStoreTest : public ::testing::Test {
  protected:
    void Write(const std::string& key, const std::string& name, uint32_t type,
               const std::string& data) {
        RegistryKey k;
        ASSERT_TRUE(k.OpenForWrite(store_, key));
        ASSERT_TRUE(k.SetValue(name, type, data.data(), static_cast<uint32_t>(data.size())));
    }

    pelmo::testing::ScratchFolder scratch_;
    std::string folder_ = scratch_.path();
    std::string store_ = folder_ + "/sub/registry.db";
};

TEST_F(RegistryStoreTest, ReadsNeverCreateTheFile) {
    RegistryKey key;
    EXPECT_FALSE(key.OpenForRead(store_, "SOFTWARE\\TAVRIN\\PELMO"));
    EXPECT_FALSE(fs::exists(store_));
    EXPECT_FALSE(fs::exists(folder_ + "/sub"));
}

TEST_F(RegistryStoreTest, WritePathCreatesFileKeyAndParents) {
    Write("SOFTWARE\\TAVRIN\\PELMO", "VERSION", REG_DWORD, std::string("\xd5\x07\0\0", 4));
    RegistryKey key;
    ASSERT_TRUE(key.OpenForRead(store_, "SOFTWARE\\TAVRIN"));
    std::vector<RegistryEntry> entries;
    ASSERT_TRUE(key.ListValues(&entries));
    EXPECT_TRUE(entries.empty()) << "a parent key exists without values";
    EXPECT_TRUE(key.OpenForRead(store_, "SOFTWARE"));
    EXPECT_FALSE(key.OpenForRead(store_, "SOFTWARE\\OTHER"));
}

TEST_F(RegistryStoreTest, KeyMayExistWithoutValues) {
    RegistryKey key;
    ASSERT_TRUE(key.OpenForWrite(store_, "SOFTWARE\\TAVRIN\\PELMO"));
    key.Close();
    ASSERT_TRUE(key.OpenForRead(store_, "SOFTWARE\\TAVRIN\\PELMO"));
    uint32_t size = 4;
    char buffer[4];
    EXPECT_FALSE(key.QueryValue("VERSION", nullptr, buffer, &size));
}

TEST_F(RegistryStoreTest, KeysAndNamesCompareCaseInsensitively) {
    Write("SOFTWARE\\TAVRIN\\PELMO", "ExePath", REG_SZ, std::string("/opt/a\0", 7));
    Write("software\\tavrin\\pelmo\\", "EXEPATH", REG_SZ, std::string("/opt/b\0", 7));
    RegistryKey key;
    ASSERT_TRUE(key.OpenForRead(store_, "\\Software\\Tavrin\\Pelmo"));
    std::vector<RegistryEntry> entries;
    ASSERT_TRUE(key.ListValues(&entries));
    ASSERT_EQ(entries.size(), 1u) << "one value, replaced";
    EXPECT_EQ(std::string(entries[0].data.begin(), entries[0].data.end()),
              std::string("/opt/b\0", 7));
}

TEST_F(RegistryStoreTest, QueryFollowsTheRegistrySizeRules) {
    Write("K", "V", REG_SZ, std::string("abcdef\0", 7));
    RegistryKey key;
    ASSERT_TRUE(key.OpenForRead(store_, "K"));
    uint32_t type = 0, size = 0;
    ASSERT_TRUE(key.QueryValue("v", &type, nullptr, &size));
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(size, 7u);

    char small[4] = {'x', 'x', 'x', 'x'};
    size = 4;
    EXPECT_FALSE(key.QueryValue("V", &type, small, &size)) << "a 4-byte query of a longer value";
    EXPECT_EQ(size, 7u);
    EXPECT_EQ(std::memcmp(small, "xxxx", 4), 0) << "nothing copied";

    char exact[7];
    size = 7;
    ASSERT_TRUE(key.QueryValue("V", nullptr, exact, &size));
    EXPECT_EQ(std::memcmp(exact, "abcdef", 7), 0);

    char roomy[16];
    size = 16;
    ASSERT_TRUE(key.QueryValue("V", nullptr, roomy, &size));
    EXPECT_EQ(size, 7u);
    EXPECT_FALSE(key.QueryValue("missing", nullptr, nullptr, &size));
}

TEST_F(RegistryStoreTest, EmptyDataAndTypeChanges) {
    Write("K", "EMPTY", REG_SZ, "");
    Write("K", "V", REG_SZ, std::string("text\0", 5));
    Write("K", "V", REG_DWORD, std::string("\1\0\0\0", 4));
    RegistryKey key;
    ASSERT_TRUE(key.OpenForRead(store_, "K"));
    uint32_t type = 99, size = 99;
    ASSERT_TRUE(key.QueryValue("EMPTY", &type, nullptr, &size));
    EXPECT_EQ(size, 0u);
    ASSERT_TRUE(key.QueryValue("V", &type, nullptr, &size));
    EXPECT_EQ(type, REG_DWORD);
    EXPECT_EQ(size, 4u);
}

TEST_F(RegistryStoreTest, DeleteListAndReadOnlyHandles) {
    Write("K", "B", REG_SZ, std::string("b\0", 2));
    Write("K", "A", REG_DWORD, std::string("\7\0\0\0", 4));
    Write("K", "b", REG_SZ, std::string("B\0", 2));
    RegistryKey key;
    ASSERT_TRUE(key.OpenForRead(store_, "K"));
    EXPECT_FALSE(key.SetValue("C", REG_SZ, "c", 2)) << "opened for reading";
    EXPECT_FALSE(key.DeleteValue("A"));
    std::vector<RegistryEntry> entries;
    ASSERT_TRUE(key.ListValues(&entries));
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].name, "B") << "in the order first set";
    EXPECT_EQ(entries[1].name, "A");

    ASSERT_TRUE(key.OpenForWrite(store_, "K"));
    EXPECT_TRUE(key.DeleteValue("a"));
    EXPECT_FALSE(key.DeleteValue("A"));
    ASSERT_TRUE(key.ListValues(&entries));
    EXPECT_EQ(entries.size(), 1u);
}

TEST_F(RegistryStoreTest, AFileThatIsNoDatabaseFailsQuietly) {
    fs::create_directories(folder_ + "/sub");
    std::ofstream(store_) << "this is not a database, just some text that fills a page";
    RegistryKey key;
    EXPECT_FALSE(key.OpenForRead(store_, "K"));
    EXPECT_FALSE(key.OpenForWrite(store_, "K"));
    std::ofstream(store_, std::ios::trunc).close();  // empty file: a database without tables
    EXPECT_FALSE(key.OpenForRead(store_, "K"));
}

TEST_F(RegistryStoreTest, DefaultLocation) {
    const char* saved = std::getenv("PELMO_REGISTRY");
    const std::string keep = saved ? saved : "";
    setenv("PELMO_REGISTRY", "/somewhere/r.db", 1);
    EXPECT_EQ(DefaultRegistryPath(), "/somewhere/r.db");
    unsetenv("PELMO_REGISTRY");
    setenv("XDG_CONFIG_HOME", "/cfg", 1);
    EXPECT_EQ(DefaultRegistryPath(), "/cfg/pelmo/registry.db");
    unsetenv("XDG_CONFIG_HOME");
    setenv("HOME", "/home/u", 1);
    EXPECT_EQ(DefaultRegistryPath(), "/home/u/.config/pelmo/registry.db");
    if (saved) setenv("PELMO_REGISTRY", keep.c_str(), 1);
}

TEST_F(RegistryStoreTest, WritersInSeveralProcessesAllSucceed) {
    constexpr int PROCESSES = 3;
    constexpr int WRITES = 15;
    std::vector<pid_t> children;
    for (int p = 0; p < PROCESSES; ++p) {
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            int failures = 0;
            for (int i = 0; i < WRITES; ++i) {
                // Every process creates the same file and key at the start.
                RegistryKey key;
                const std::string name = "P" + std::to_string(p) + "_" + std::to_string(i);
                failures += !key.OpenForWrite(store_, "SOFTWARE\\TAVRIN\\PELMO");
                failures += !key.SetValue(name, REG_DWORD, &i, 4);
            }
            _exit(failures == 0 ? 0 : 1);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    RegistryKey key;
    ASSERT_TRUE(key.OpenForRead(store_, "SOFTWARE\\TAVRIN\\PELMO"));
    std::vector<RegistryEntry> entries;
    ASSERT_TRUE(key.ListValues(&entries));
    EXPECT_EQ(entries.size(), size_t{PROCESSES * WRITES});
}

}  // namespace
}  // namespace pelmo::platform
