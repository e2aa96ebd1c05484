// Named objects within one process: every open description is its own holder.
#include "platform/named_object.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

namespace pelmo::platform {
namespace {

class NamedObjectTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/pelmo-named-test-XXXXXX";
        folder_ = mkdtemp(pattern);
        setenv("XDG_RUNTIME_DIR", folder_.c_str(), 1);
    }
    void TearDown() override { std::filesystem::remove_all(folder_); }
    std::string folder_;
};

TEST_F(NamedObjectTest, ExistsExactlyWhileHeld) {
    EXPECT_FALSE(NamedObject::Exists("A"));
    NamedObject first;
    ASSERT_EQ(first.Create("A"), NamedObject::CREATED);
    EXPECT_TRUE(NamedObject::Exists("A"));
    EXPECT_FALSE(NamedObject::Exists("a")) << "names are exact";

    NamedObject second;
    EXPECT_EQ(second.Create("A"), NamedObject::EXISTS);
    EXPECT_FALSE(second.IsHeld());

    NamedObject moved = std::move(first);
    EXPECT_FALSE(first.IsHeld());
    EXPECT_TRUE(NamedObject::Exists("A"));
    moved.Close();
    EXPECT_FALSE(NamedObject::Exists("A"));
    EXPECT_EQ(second.Create("A"), NamedObject::CREATED);
}

TEST_F(NamedObjectTest, ASharedHolderIsSeenAndKeepsItsLock) {
    const std::string path = folder_ + "/S";
    const int holder = open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(flock(holder, LOCK_SH | LOCK_NB), 0);
    EXPECT_TRUE(NamedObject::Exists("S"));
    const int second = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    EXPECT_EQ(flock(second, LOCK_SH | LOCK_NB), 0) << "the probe took nothing away";
    close(second);
    close(holder);
    EXPECT_FALSE(NamedObject::Exists("S"));
}

TEST_F(NamedObjectTest, NamesStayInsideTheFolder) {
    NamedObject object;
    for (const char* name : {"", ".", "..", "../escape", "a/b"}) {
        EXPECT_EQ(object.Create(name), NamedObject::FAILED) << name;
        EXPECT_FALSE(NamedObject::Exists(name)) << name;
    }
    EXPECT_FALSE(std::filesystem::exists(folder_ + "/../escape"));
}

TEST_F(NamedObjectTest, LinksAreNotFollowed) {
    const std::string target = folder_ + "/target";
    ASSERT_EQ(symlink(target.c_str(), (folder_ + "/L").c_str()), 0);
    NamedObject object;
    EXPECT_EQ(object.Create("L"), NamedObject::FAILED);
    EXPECT_FALSE(std::filesystem::exists(target));
    EXPECT_FALSE(NamedObject::Exists("L"));
}

TEST_F(NamedObjectTest, ContentIsReplaced) {
    NamedObject object;
    EXPECT_FALSE(object.WriteContent("x", 1)) << "not held";
    ASSERT_EQ(object.Create("C"), NamedObject::CREATED);
    ASSERT_TRUE(object.WriteContent("longer content", 14));
    ASSERT_TRUE(object.WriteContent("abc", 4));
    EXPECT_EQ(std::filesystem::file_size(folder_ + "/C"), 4u);
}

TEST_F(NamedObjectTest, PrivateFolderWithoutRuntimeDir) {
    unsetenv("XDG_RUNTIME_DIR");
    const std::string folder = NamedObjectFolder();
    EXPECT_EQ(folder, "/tmp/pelmo-" + std::to_string(geteuid()));
    struct stat st;
    ASSERT_EQ(lstat(folder.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 0077, 0u);
}

}  // namespace
}  // namespace pelmo::platform
