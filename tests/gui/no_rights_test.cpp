// Without the right to write the hive, OK reports message 109 and the hive keeps every value.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCheckBox>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "applet/resources.h"
#include "gui_support.h"
#include "platform/registry.h"

namespace chron::testing {
namespace {

std::string g_hive;

std::string Bytes() {
  std::ifstream in(g_hive, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(NoRights, OkShowsMessage109AndTheHiveIsUnchanged) {
  ASSERT_FALSE(g_hive.empty());
  ASSERT_NE(access(g_hive.c_str(), R_OK), -1);
  ASSERT_EQ(access(g_hive.c_str(), W_OK), -1) << "the test must run without the right to write";
  const std::string before = Bytes();
  ASSERT_NE(before.find("REGISTRY"), std::string::npos);
  MessageSeen write_error;
  const int32_t result = RunSheet([&](QDialog& sheet) {
    ClickButton(Control<QCheckBox>(sheet, kIddServer, kIdcServerActive));
    AnswerNextMessageBox(&write_error);
    PressOk(sheet);
  });
  EXPECT_EQ(result, 0);
  EXPECT_TRUE(write_error.seen);
  EXPECT_EQ(write_error.text, "Beim Schreiben der Konfigurationsdaten ist ein Fehler aufgetreten.");
  EXPECT_EQ(write_error.caption, "Konfiguration - SNTP");
  EXPECT_EQ(Bytes(), before);
}

}  // namespace

// The hive is prepared with full rights, then the process gives them up: as root it becomes
// the user nobody; otherwise the file and its directory lose their write bits.
void BeforeApplication() {
  char pattern[] = "/tmp/chron-applet-ro-XXXXXX";
  const std::string dir = mkdtemp(pattern);
  chmod(dir.c_str(), 0755);
  g_hive = dir + "/registry.reg";
  Configuration stored;
  stored.ip_query_type = "REGISTRY";
  stored.client_poll_interval = 1024;
  if (!WriteConfiguration(*platform::OpenHiveFile(g_hive), stored)) std::abort();
  chmod(g_hive.c_str(), 0644);
  setenv("CHRON_HIVE", g_hive.c_str(), 1);
  if (geteuid() == 0) {
    // The tests run in a child as nobody; this process stays root to remove the directory.
    const pid_t child = fork();
    if (child != 0) {
      int status = 1;
      waitpid(child, &status, 0);
      std::error_code ignored;
      std::filesystem::remove_all(dir, ignored);
      _exit(WIFEXITED(status) ? WEXITSTATUS(status) : 1);
    }
    if (setgid(65534) != 0 || setuid(65534) != 0) std::abort();
  } else {
    chmod(g_hive.c_str(), 0444);
    chmod(dir.c_str(), 0555);
  }
}

}  // namespace chron::testing
