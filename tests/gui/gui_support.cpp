// Helpers of the applet's GUI tests.
#include "gui_support.h"

#include <dlfcn.h>
#include <sched.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTabBar>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/registry.h"

namespace chron::testing {

CplAppletProc Applet() {
  static CplAppletProc proc = [] {
    void* module = dlopen(CHRON_APPLET_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) {
      ADD_FAILURE() << dlerror();
      return CplAppletProc{nullptr};
    }
    return reinterpret_cast<CplAppletProc>(dlsym(module, kCplAppletExport));
  }();
  return proc;
}

TempHive::TempHive() {
  char pattern[] = "/tmp/chron-applet-XXXXXX";
  dir_ = mkdtemp(pattern);
  path_ = dir_ + "/registry.reg";
  setenv("CHRON_HIVE", path_.c_str(), 1);
}

TempHive::~TempHive() {
  unsetenv("CHRON_HIVE");
  std::error_code ignored;
  std::filesystem::remove_all(dir_, ignored);
}

void TempHive::Store(const Configuration& config) {
  auto registry = platform::OpenHiveFile(path_);
  ASSERT_TRUE(WriteConfiguration(*registry, config));
}

static std::pair<std::string, std::string> Split(const std::string& path) {
  const size_t slash = path.rfind('\\');
  std::string key(kProductKey);
  if (slash == std::string::npos) return {key.substr(0, key.size() - 1), path};
  return {key + path.substr(0, slash), path.substr(slash + 1)};
}

void TempHive::SetDword(const std::string& path, uint32_t value) {
  auto [key, name] = Split(path);
  ASSERT_EQ(platform::OpenHiveFile(path_)->SetValue(key, name, platform::RegType::kDword, &value, 4), 0);
}

void TempHive::SetString(const std::string& path, const std::string& value) {
  auto [key, name] = Split(path);
  ASSERT_EQ(platform::OpenHiveFile(path_)->SetValue(key, name, platform::RegType::kSz, value.c_str(),
                                                    static_cast<uint32_t>(value.size() + 1)),
            0);
}

Configuration TempHive::Read(bool* complete) const {
  Configuration config;
  auto registry = platform::OpenHiveFile(path_);
  const bool all = ReadConfiguration(*registry, &config);
  if (complete != nullptr) *complete = all;
  return config;
}

std::string TempHive::Bytes() const {
  std::ifstream in(path_, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

static QDialog* VisibleSheet() {
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (w->objectName() == "CSntpPanel" && w->isVisible()) return qobject_cast<QDialog*>(w);
  }
  return nullptr;
}

int32_t RunSheet(const std::function<void(QDialog&)>& driver, bool* driven) {
  bool ran = false;
  QTimer poll;
  poll.setInterval(10);
  QObject::connect(&poll, &QTimer::timeout, [&] {
    QDialog* sheet = VisibleSheet();
    if (sheet == nullptr || ran || QApplication::activeModalWidget() != sheet) return;
    ran = true;
    poll.stop();
    QApplication::setActiveWindow(sheet);
    driver(*sheet);
  });
  poll.start();
  const int32_t result = Applet()(nullptr, CPL_DBLCLK, 0, 0);
  poll.stop();
  if (driven != nullptr) *driven = ran;
  EXPECT_TRUE(ran) << "the sheet never became visible";
  return result;
}

QWidget* Page(QDialog& sheet, int id) {
  QWidget* page = sheet.findChild<QWidget*>(QString::number(id));
  EXPECT_NE(page, nullptr) << "page " << id;
  return page;
}

void ClickTab(QDialog& sheet, int index) {
  auto* bar = sheet.findChild<QTabBar*>("tabs");
  QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(index).center());
}

void ClickButton(QWidget* button) {
  ASSERT_NE(button, nullptr);
  QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(4, button->height() / 2));
}

void ClickArrow(QDialog& sheet, int page, int updown_id, bool up) {
  QWidget* updown = Control<QWidget>(sheet, page, updown_id);
  ASSERT_NE(updown, nullptr);
  auto* arrow = updown->findChild<QToolButton*>(up ? "up" : "down");
  ASSERT_NE(arrow, nullptr);
  QTest::mouseClick(arrow, Qt::LeftButton);
}

void TypeInto(QDialog& sheet, int page, int edit_id, const QString& text) {
  auto* edit = Control<QLineEdit>(sheet, page, edit_id);
  ASSERT_NE(edit, nullptr);
  edit->setFocus();
  edit->selectAll();
  QTest::keyClick(edit, Qt::Key_Delete);
  QTest::keyClicks(edit, text);
}

void PressOk(QDialog& sheet) { QTest::mouseClick(sheet.findChild<QPushButton*>("1"), Qt::LeftButton); }
void PressCancel(QDialog& sheet) { QTest::mouseClick(sheet.findChild<QPushButton*>("2"), Qt::LeftButton); }

void AnswerNextMessageBox(MessageSeen* seen, const QString& png, int timeout_ms) {
  auto* poll = new QTimer;
  auto* waited = new int(0);
  poll->setInterval(10);
  QObject::connect(poll, &QTimer::timeout, [=] {
    *waited += 10;
    for (QWidget* w : QApplication::topLevelWidgets()) {
      auto* box = qobject_cast<QMessageBox*>(w);
      if (box == nullptr || !box->isVisible()) continue;
      seen->seen = true;
      seen->caption = box->windowTitle();
      seen->text = box->text();
      seen->warning_icon = box->icon() == QMessageBox::Warning;
      if (!png.isEmpty()) box->grab().save(ScreenshotDir() + "/" + png);
      poll->stop();
      poll->deleteLater();
      delete waited;
      QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
      return;
    }
    if (*waited >= timeout_ms) {
      poll->stop();
      poll->deleteLater();
      delete waited;
    }
  });
  poll->start();
}

QString ScreenshotDir() {
  const QString dir = QStringLiteral(CHRON_SCREENSHOT_DIR);
  QDir().mkpath(dir);
  return dir;
}

}  // namespace chron::testing

namespace chron::testing {
// Runs before the application object exists; a test file may define its own.
__attribute__((weak)) void BeforeApplication() {}
}  // namespace chron::testing

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  // A private network namespace is a machine of its own: the named shutdown event that these
  // tests open and set is then not the one of any service running here.
  if (geteuid() == 0 && unshare(CLONE_NEWNET) != 0) perror("unshare");
  chron::testing::BeforeApplication();
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
