// The client's four settings against a real store file.
#include "settings/client_settings.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "platform/registry_store.h"
#include "settings/registry_value.h"
#include "tests/support/scratch_folder.h"

namespace pelmo {
namespace {

using platform::REG_DWORD;
using platform::REG_SZ;
namespace fs = std::filesystem;

class ClientSettingsTest : public ::testing::Test {
  protected:
    void SetUp() override { setenv("PELMO_REGISTRY", store_.c_str(), 1); }

    // Stores raw bytes, as the client's installer may have left them.
    void Plant(const std::string& name, uint32_t type, const std::string& data,
               const std::string& key = "SOFTWARE\\TAVRIN\\PELMO") {
        platform::RegistryKey k;
        ASSERT_TRUE(k.OpenForWrite(store_, key));
        ASSERT_TRUE(k.SetValue(name, type, data.data(), static_cast<uint32_t>(data.size())));
    }
    std::string Raw(const std::string& name, uint32_t* type) {
        platform::RegistryKey k;
        if (!k.OpenForRead(store_, "SOFTWARE\\TAVRIN\\PELMO")) return "<no key>";
        char buffer[64];
        uint32_t size = sizeof buffer;
        if (!k.QueryValue(name, type, buffer, &size)) return "<no value>";
        return std::string(buffer, size);
    }
    void ExpectFallbacks() {
        EXPECT_EQ(ClientSettings::ReadInstalledVersion(), 0);
        EXPECT_EQ(ClientSettings::ReadClientFolder(), "");
        EXPECT_EQ(ClientSettings::ReadManifestAddress(), "");
        EXPECT_FALSE(ClientSettings::ReadAutoCheck());
    }

    pelmo::testing::ScratchFolder scratch_;
    std::string folder_ = scratch_.path();
    std::string store_ = folder_ + "/pelmo/registry.db";
};

TEST_F(ClientSettingsTest, NoStoreAtAllGivesFallbacksAndCreatesNothing) {
    ExpectFallbacks();
    EXPECT_FALSE(fs::exists(store_));
}

TEST_F(ClientSettingsTest, NoKeyOrNoValuesGivesFallbacks) {
    Plant("VERSION", REG_DWORD, std::string("\xd5\x07\0\0", 4), "SOFTWARE\\OTHER");
    ExpectFallbacks();
    Plant("UNRELATED", REG_SZ, std::string("x\0", 2));
    ExpectFallbacks();
}

TEST_F(ClientSettingsTest, VersionReadsSigned) {
    Plant("VERSION", REG_DWORD, std::string("\xd5\x07\0\0", 4));
    EXPECT_EQ(ClientSettings::ReadInstalledVersion(), 2005);
    Plant("VERSION", REG_DWORD, std::string("\xfb\xff\xff\xff", 4));
    EXPECT_EQ(ClientSettings::ReadInstalledVersion(), -5);
    EXPECT_LT(ClientSettings::ReadInstalledVersion(), 0);
}

TEST_F(ClientSettingsTest, IntegerQueryOfALongerValueReadsZero) {
    Plant("VERSION", 11, std::string("\xd5\x07\0\0\0\0\0\0", 8));
    EXPECT_EQ(ClientSettings::ReadInstalledVersion(), 0);
    Plant("VERSION", REG_SZ, std::string("2005\0", 5));
    EXPECT_EQ(ClientSettings::ReadInstalledVersion(), 0);
    // A shorter value fills the low bytes, whatever its type.
    Plant("VERSION", REG_SZ, std::string("\x07\x01", 2));
    EXPECT_EQ(ClientSettings::ReadInstalledVersion(), 0x107);
}

TEST_F(ClientSettingsTest, AutoCheckIsOnOnlyForExactlyOne) {
    for (auto [bytes, on] :
         {std::pair{std::string("\1\0\0\0", 4), true}, std::pair{std::string("\2\0\0\0", 4), false},
          std::pair{std::string("\0\0\0\0", 4), false},
          std::pair{std::string("\1\0\0\0\0", 5), false},
          std::pair{std::string("\xff\xff\xff\xff", 4), false}}) {
        Plant("UPGRADEAUTORUN", REG_DWORD, bytes);
        EXPECT_EQ(ClientSettings::ReadAutoCheck(), on) << bytes.size();
    }
}

TEST_F(ClientSettingsTest, WritesStoreDwordsAndCreateTheKey) {
    ClientSettings::WriteAutoCheck(true);
    ASSERT_TRUE(fs::exists(store_)) << "the write path creates the file and its folder";
    uint32_t type = 0;
    EXPECT_EQ(Raw("UPGRADEAUTORUN", &type), std::string("\1\0\0\0", 4));
    EXPECT_EQ(type, REG_DWORD);
    EXPECT_TRUE(ClientSettings::ReadAutoCheck());
    ClientSettings::WriteAutoCheck(false);
    EXPECT_EQ(Raw("UPGRADEAUTORUN", &type), std::string("\0\0\0\0", 4));

    ClientSettings::WriteInstalledVersion(-2);
    EXPECT_EQ(Raw("VERSION", &type), std::string("\xfe\xff\xff\xff", 4));
    EXPECT_EQ(type, REG_DWORD);
    ClientSettings::WriteInstalledVersion(2006);
    EXPECT_EQ(ClientSettings::ReadInstalledVersion(), 2006);
}

TEST_F(ClientSettingsTest, FailedWritesAreSilent) {
    setenv("PELMO_REGISTRY", "/proc/self/no-such-folder/registry.db", 1);
    ClientSettings::WriteInstalledVersion(5);
    ClientSettings::WriteAutoCheck(true);
    ExpectFallbacks();
}

TEST_F(ClientSettingsTest, ClientFolderIsTheProgramPathBeforeItsLastSeparator) {
    const std::pair<std::string, std::string> cases[] = {
        {"C:\\Program Files\\Pelmo\\pelmo.exe", "C:\\Program Files\\Pelmo"},
        {"C:\\Pelmo\\", "C:\\Pelmo"},
        {"pelmo.exe", "pelmo.exe"},
        {"/opt/pelmo/pelmo.exe", "/opt/pelmo"},
        {"/opt/pelmo/", "/opt/pelmo"},
        {"/pelmo.exe", ""},
        {std::string("/opt/pelmo/pelmo.exe\0/other/x", 29), "/opt/pelmo"},
    };
    for (const auto& [stored, folder] : cases) {
        Plant("EXEPATH", REG_SZ, stored + '\0');
        EXPECT_EQ(ClientSettings::ReadClientFolder(), folder) << stored;
    }
}

TEST_F(ClientSettingsTest, ManifestAddressLosesSurroundingWhiteSpace) {
    const std::pair<std::string, std::string> cases[] = {
        {"  http://127.0.0.1/versions.xml  ", "http://127.0.0.1/versions.xml"},
        {"\t/srv/up date/versions.xml\r\n", "/srv/up date/versions.xml"},
        {"\v\f http://h/v.xml\n\n", "http://h/v.xml"},
        {" \t\r\n ", ""},
    };
    for (const auto& [stored, address] : cases) {
        Plant("UPGRADECFGFILE", REG_SZ, stored + '\0');
        EXPECT_EQ(ClientSettings::ReadManifestAddress(), address) << stored;
    }
}

TEST_F(ClientSettingsTest, TextsAreReadUpToTheirFirstNulWhateverTheirType) {
    Plant("UPGRADECFGFILE", REG_SZ, "");
    EXPECT_EQ(ClientSettings::ReadManifestAddress(), "") << "stored with no data";
    Plant("UPGRADECFGFILE", REG_SZ, "http://h/v.xml");
    EXPECT_EQ(ClientSettings::ReadManifestAddress(), "http://h/v.xml") << "no terminating NUL";
    Plant("UPGRADECFGFILE", REG_DWORD, std::string("a\0b\0", 4));
    EXPECT_EQ(ClientSettings::ReadManifestAddress(), "a");
    Plant("EXEPATH", REG_SZ, std::string("\0/opt/x", 7));
    EXPECT_EQ(ClientSettings::ReadClientFolder(), "");
}

TEST_F(ClientSettingsTest, ValuePathsSplitAtTheLastBackslash) {
    RegistryValue value("SOFTWARE\\TAVRIN\\PELMO\\VERSION", RegistryRoot::LocalMachine());
    EXPECT_EQ(value.subkeyPath(), "SOFTWARE\\TAVRIN\\PELMO");
    EXPECT_EQ(value.valueName(), "VERSION");
    RegistryValue bare("VERSION", RegistryRoot::LocalMachine());
    EXPECT_EQ(bare.subkeyPath(), "VERSION");
    EXPECT_EQ(bare.valueName(), "VERSION");
}

TEST_F(ClientSettingsTest, ClientAndUpgraderWriteAtTheSameTime) {
    constexpr int WRITES = 20;
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        int wrong = 0;
        for (int i = 1; i <= WRITES; ++i) {
            ClientSettings::WriteInstalledVersion(2000 + i);
            wrong += ClientSettings::ReadInstalledVersion() != 2000 + i;
        }
        _exit(wrong == 0 ? 0 : 1);
    }
    int wrong = 0;
    for (int i = 1; i <= WRITES; ++i) {
        ClientSettings::WriteAutoCheck(i % 2 == 1);
        wrong += ClientSettings::ReadAutoCheck() != (i % 2 == 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(ClientSettings::ReadInstalledVersion(), 2000 + WRITES);
    EXPECT_FALSE(ClientSettings::ReadAutoCheck());
}

}  // namespace
}  // namespace pelmo
