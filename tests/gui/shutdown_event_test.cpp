// The named shutdown event set by another process closes an open sheet without writing,
// and ends the host's event loop.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTest>
#include <QTimer>
#include <csignal>

#include "applet/resources.h"
#include "gui_support.h"
#include "platform/named_event.h"

namespace chron::testing {
namespace {

constexpr const char* kEventName = "Orbek.SNTP.Shutdown.Event";

// Sets the event from a child process, as chronstop would; true when the child succeeded.
bool SetEventFromAnotherProcess() {
  const pid_t child = fork();
  if (child == 0) {
    std::unique_ptr<platform::NamedEvent> event;
    if (platform::NamedEvent::Create(kEventName, &event)) _exit(2);
    _exit(!event->Set() ? 0 : 3);
  }
  int status = -1;
  waitpid(child, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Runs the host's loop until the applet's quit request ends it (0) or two seconds pass (99).
int HostLoop() {
  QTimer::singleShot(2000, [] { QCoreApplication::exit(99); });
  return QApplication::exec();
}

class ShutdownEventTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(Applet(), nullptr);  // the module opens the event when it is loaded
    ASSERT_FALSE(platform::NamedEvent::Create(kEventName, &event));
    event->Reset();
    Configuration stored;
    stored.server_active = 1;
    hive.Store(stored);
    before = hive.Bytes();
  }
  void TearDown() override { event->Reset(); }

  std::unique_ptr<platform::NamedEvent> event;
  TempHive hive;
  std::string before;
};

TEST_F(ShutdownEventTest, SetWhileOpenClosesTheSheetWithoutWriting) {
  QElapsedTimer since_set;
  const int32_t result = RunSheet([&](QDialog& sheet) {
    TypeInto(sheet, kIddServer, kIdcServerInterval, "999");  // would be written by OK
    ASSERT_TRUE(SetEventFromAnotherProcess());
    since_set.start();
  });
  const qint64 elapsed = since_set.elapsed();
  EXPECT_EQ(result, 0);
  EXPECT_LT(elapsed, 400) << "closed " << elapsed << " ms after the event was set";
  EXPECT_EQ(hive.Bytes(), before);
  EXPECT_EQ(HostLoop(), 0) << "the host's event loop was asked to end";
}

TEST_F(ShutdownEventTest, SetWhileAMessageBoxIsOpenClosesBoth) {
  QElapsedTimer since_set;
  bool box_was_open = false;
  RunSheet([&](QDialog& sheet) {
    TypeInto(sheet, kIddServer, kIdcServerInterval, "abc");
    // The event is set while the validation message stands; nobody answers the box.
    QTimer::singleShot(100, [&] {
      box_was_open = QApplication::activeModalWidget() != &sheet;
      SetEventFromAnotherProcess();
      since_set.start();
    });
    ClickTab(sheet, 1);
  });
  EXPECT_TRUE(box_was_open);
  EXPECT_LT(since_set.elapsed(), 400);
  EXPECT_EQ(hive.Bytes(), before);
  EXPECT_EQ(HostLoop(), 0);
}

TEST_F(ShutdownEventTest, AlreadySetClosesTheSheetRightAfterItOpens) {
  ASSERT_TRUE(SetEventFromAnotherProcess());
  QElapsedTimer open;
  open.start();
  QTimer safety;  // in case the watch fails: end the sheet with OK so the test sees a write
  QObject::connect(&safety, &QTimer::timeout, [] {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (w->objectName() == "CSntpPanel" && w->isVisible()) qobject_cast<QDialog*>(w)->accept();
    }
  });
  safety.start(1500);
  const int32_t result = Applet()(nullptr, CPL_DBLCLK, 0, 0);
  safety.stop();
  EXPECT_EQ(result, 0);
  EXPECT_LT(open.elapsed(), 1000);
  EXPECT_EQ(hive.Bytes(), before);
  EXPECT_EQ(HostLoop(), 0);
}

TEST_F(ShutdownEventTest, HostProgramEndsWhenTheEventIsSet) {
  const pid_t host = fork();
  if (host == 0) {
    execl(CHRON_HOST_PROGRAM, "chroncpl", static_cast<char*>(nullptr));
    _exit(127);
  }
  QTest::qWait(1000);  // the host has loaded the applet and opened the sheet
  int status = -1;
  ASSERT_EQ(waitpid(host, &status, WNOHANG), 0) << "the host must still show its sheet";
  ASSERT_FALSE(event->Set());
  QElapsedTimer since_set;
  since_set.start();
  while (waitpid(host, &status, WNOHANG) == 0 && since_set.elapsed() < 3000) QTest::qWait(20);
  if (since_set.elapsed() >= 3000) kill(host, SIGKILL), waitpid(host, &status, 0);
  EXPECT_LT(since_set.elapsed(), 1000);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
  EXPECT_EQ(hive.Bytes(), before);
}

}  // namespace
}  // namespace chron::testing
