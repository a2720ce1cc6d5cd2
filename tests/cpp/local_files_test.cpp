// Local files: which robot-supplied names may become path parts, the extension rule, reading only
// regular files, and saving that replaces a file whole or leaves the old one intact.
#include "interfaces/local_files.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "file_size_limit.hpp"

namespace korvo::vyr_impl {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

TEST(IsPlainFileNameTest, AcceptsOnlyOnePathPart) {
  for (const char* name : {"link1", "base_link.STL", ".hidden", "a..b", "...", "-x"}) {
    EXPECT_TRUE(IsPlainFileName(name)) << name;
  }
  for (const std::string& name :
       {std::string(), std::string("."), std::string(".."), std::string("../../.bashrc"),
        std::string("/home/u/.ssh/keys"), std::string("a/b"), std::string("a\\b"),
        std::string("a\0b", 3), std::string("dir/")}) {
    EXPECT_FALSE(IsPlainFileName(name)) << name;
  }
}

TEST(ExtensionTest, FollowsTheLastDotExceptALeadingOne) {
  const std::vector<std::pair<std::string, std::string>> cases = {{"link1_collision.stl", ".stl"},
                                                                  {"base.STL", ".STL"},
                                                                  {"a.b.c", ".c"},
                                                                  {"mesh", ""},
                                                                  {".bashrc", ""},
                                                                  {".", ""},
                                                                  {"..", ""},
                                                                  {"name.", "."},
                                                                  {"..x", ".x"}};
  for (const auto& [name, extension] : cases) EXPECT_EQ(Extension(name), extension) << name;
}

class LocalFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("korvo-files-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override {
    fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add);
    fs::remove_all(dir_);
  }
  static Bytes Content(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
  }
  std::vector<std::string> Entries() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_)) names.push_back(e.path().filename());
    return names;
  }
  fs::path dir_;
};

TEST_F(LocalFilesTest, ReadsRegularFilesOnly) {
  const Bytes bytes = {0x00, 0xFF, 0x0A, 0x0D, 0x41};
  std::ofstream(dir_ / "a.traj", std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  std::ofstream(dir_ / "empty.traj").close();
  EXPECT_EQ(ReadFile(dir_ / "a.traj"), bytes);
  EXPECT_EQ(ReadFile(dir_ / "empty.traj"), Bytes{});
  EXPECT_FALSE(ReadFile(dir_ / "missing.traj").has_value());
  fs::create_directories(dir_ / "folder.traj");
  EXPECT_FALSE(ReadFile(dir_ / "folder.traj").has_value());  // not a huge allocation
}

TEST_F(LocalFilesTest, SavesNewFilesWithTheUsualModeAndKeepsAnOldFilesMode) {
  ASSERT_TRUE(SaveFile(dir_ / "new.stl", {1, 2, 3}));
  EXPECT_EQ(Content(dir_ / "new.stl"), (Bytes{1, 2, 3}));
  const mode_t mask = ::umask(0);
  ::umask(mask);
  EXPECT_EQ(static_cast<mode_t>(fs::status(dir_ / "new.stl").permissions()), 0666 & ~mask);

  fs::permissions(dir_ / "new.stl",
                  fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  ASSERT_TRUE(SaveFile(dir_ / "new.stl", {}));
  EXPECT_EQ(Content(dir_ / "new.stl"), Bytes{});
  EXPECT_EQ(fs::status(dir_ / "new.stl").permissions(),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  EXPECT_EQ(Entries(), std::vector<std::string>{"new.stl"});  // no temporary file left behind
}

TEST_F(LocalFilesTest, ALinkKeepsPointingAtTheFileItReplacesAndLongNamesAreSaved) {
  fs::create_directories(dir_ / "real");
  ASSERT_TRUE(SaveFile(dir_ / "real" / "robot.urdf", {1}));
  fs::create_symlink(fs::path("real") / "robot.urdf", dir_ / "robot.urdf");
  ASSERT_TRUE(SaveFile(dir_ / "robot.urdf", {2, 2}));
  EXPECT_TRUE(fs::is_symlink(dir_ / "robot.urdf"));
  EXPECT_EQ(Content(dir_ / "real" / "robot.urdf"), (Bytes{2, 2}));

  const std::string longest(255, 'n');  // the longest name a folder may hold
  ASSERT_TRUE(SaveFile(dir_ / longest, {3}));
  EXPECT_EQ(Content(dir_ / longest), Bytes{3});
}

TEST_F(LocalFilesTest, AFailedWriteLeavesTheOldFileIntact) {
  ASSERT_TRUE(SaveFile(dir_ / "mesh.stl", Bytes(100, 7)));
  // The process may write no file beyond 1 KiB: the new content fails half-way.
  const bool saved = [&] {
    test::FileSizeLimit limit(1024);
    return SaveFile(dir_ / "mesh.stl", Bytes(4096, 9));
  }();

  EXPECT_FALSE(saved);
  EXPECT_EQ(Content(dir_ / "mesh.stl"), Bytes(100, 7));
  EXPECT_EQ(Entries(), std::vector<std::string>{"mesh.stl"});
}

TEST_F(LocalFilesTest, AReadOnlyFolderKeepsItsFile) {
  if (::geteuid() == 0) GTEST_SKIP() << "permissions do not bind root";
  ASSERT_TRUE(SaveFile(dir_ / "mesh.stl", {5}));
  fs::permissions(dir_, fs::perms::owner_read | fs::perms::owner_exec);
  EXPECT_FALSE(SaveFile(dir_ / "mesh.stl", {6, 6}));
  EXPECT_EQ(Content(dir_ / "mesh.stl"), Bytes{5});
}

TEST_F(LocalFilesTest, ADirectoryInTheWayIsNotReplaced) {
  fs::create_directories(dir_ / "mesh.stl" / "inside");
  EXPECT_FALSE(SaveFile(dir_ / "mesh.stl", {1}));
  EXPECT_TRUE(fs::is_directory(dir_ / "mesh.stl" / "inside"));
  EXPECT_EQ(Entries(), std::vector<std::string>{"mesh.stl"});
}

}  // namespace
}  // namespace korvo::vyr_impl
