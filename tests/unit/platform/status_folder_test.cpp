// The status file's folder on Linux: links planted by other users and folders they may change.
// Needs root, to make folders and links of another user.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/file.h"
#include "platform/status_file.h"

namespace chron::platform {
namespace {

namespace fs = std::filesystem;

constexpr uid_t kOtherUser = 65534;  // nobody

class StatusFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to make files of another user";
    char pattern[] = "/tmp/chron-status-folder-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    root_ = pattern;
    ASSERT_EQ(::chmod(root_.c_str(), 0755), 0);
  }
  void TearDown() override {
    if (!root_.empty()) fs::remove_all(root_);
  }
  std::string Read(const fs::path& path) {
    std::string text;
    EXPECT_EQ(ReadRegularFile(path.string(), 100, &text), std::error_code()) << path;
    return text;
  }
  fs::path root_;
};

TEST_F(StatusFolderTest, NeverFollowsALinkAndRefusesFoldersOthersMayChange) {
  struct Case {
    const char* what;
    mode_t folder_mode;  // 0: the folder is missing
    uid_t folder_owner;
    bool folder_is_link;  // the folder's name is a link to a folder of root's
    std::error_code expected;
  } cases[] = {
      {"root's folder, link at the file's name", 0755, 0, false, {}},
      {"sticky world-writable root's folder (as /tmp)", 01777, 0, false, {}},
      {"folder of another user", 0755, kOtherUser, false, PlatformError::kStatusFolderForeignOwner},
      {"group-writable folder without sticky bit", 0775, 0, false, PlatformError::kStatusFolderOpenToOthers},
      {"world-writable folder without sticky bit", 0777, 0, false, PlatformError::kStatusFolderOpenToOthers},
      {"folder's name a link", 0755, 0, true, PlatformError::kStatusFolderLink},
      {"missing folder", 0, 0, false, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(root_ / "status");
    fs::remove_all(root_ / "real");
    const fs::path victim = root_ / "victim";
    fs::remove(victim);
    {
      std::FILE* file = OpenFile(victim.string(), "w");
      ASSERT_NE(file, nullptr);
      std::fputs("secret", file);
      std::fclose(file);
    }
    ASSERT_EQ(::chmod(victim.c_str(), 0600), 0);
    const fs::path folder = root_ / "status";
    const fs::path real = c.folder_is_link ? root_ / "real" : folder;
    if (c.folder_mode != 0) {
      fs::create_directory(real);
      ASSERT_EQ(::chmod(real.c_str(), c.folder_mode), 0);
      ASSERT_EQ(::chown(real.c_str(), c.folder_owner, 0), 0);
      if (c.folder_is_link) fs::create_directory_symlink(real, folder);
      // Planted by another user: the status file's name leads to root's secret.
      ASSERT_EQ(::symlink(victim.c_str(), (real / "status.json").c_str()), 0);
      ASSERT_EQ(::lchown((real / "status.json").c_str(), kOtherUser, kOtherUser), 0);
    }
    const mode_t umask = ::umask(077);  // the folder made is 0755 whatever the umask
    const std::error_code result = ReplaceFileContents((folder / "status.json").string(), "record");
    ::umask(umask);

    EXPECT_EQ(result, c.expected);
    EXPECT_EQ(Read(victim), "secret");
    EXPECT_EQ(fs::status(victim).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    if (!c.expected) {
      EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(folder / "status.json")));
      EXPECT_EQ(Read(folder / "status.json"), "record");
      EXPECT_EQ(fs::status(folder).permissions() & fs::perms::mask,
                c.folder_mode != 0 ? static_cast<fs::perms>(c.folder_mode) : static_cast<fs::perms>(0755));
    } else {
      EXPECT_TRUE(fs::is_symlink(real / "status.json"));  // left as it was
    }
  }
}

}  // namespace
}  // namespace chron::platform
