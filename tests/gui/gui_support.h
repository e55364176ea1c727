// Helpers of the applet's GUI tests: the applet loaded as the host loads it, a hive of the
// test's own, and a driver that acts on the sheet while CPL_DBLCLK runs it.
#pragma once

#include <QDialog>
#include <QString>
#include <functional>
#include <string>

#include "applet/cpl.h"
#include "config/configuration.h"

class QWidget;

namespace chron::testing {

// dlopen()s libchroncfg.so once and returns its CPlApplet.
CplAppletProc Applet();

// A hive file in a fresh temporary directory, named by CHRON_HIVE while the object lives.
class TempHive {
 public:
  TempHive();
  ~TempHive();
  const std::string& path() const { return path_; }
  const std::string& dir() const { return dir_; }
  void Store(const Configuration& config);  // all twelve values
  void SetDword(const std::string& path, uint32_t value);
  void SetString(const std::string& path, const std::string& value);
  Configuration Read(bool* complete = nullptr) const;
  std::string Bytes() const;  // the file as it is, "" when absent

 private:
  std::string dir_, path_;
};

// Runs CPL_DBLCLK; `driver` is called once the sheet is visible and must end it (OK, Cancel)
// or let something else end it. Returns CPlApplet's result; *driven says whether the driver ran.
int32_t RunSheet(const std::function<void(QDialog&)>& driver, bool* driven = nullptr);

// The page widget of template `id` (103 Client, 104 Server, 130 Information) in the sheet.
QWidget* Page(QDialog& sheet, int id);
template <typename T>
T* Control(QDialog& sheet, int page, int id) {
  return Page(sheet, page)->findChild<T*>(QString::number(id));
}

void ClickTab(QDialog& sheet, int index);
void ClickButton(QWidget* button);  // at the left end, where a check box takes clicks
void ClickArrow(QDialog& sheet, int page, int updown_id, bool up);
void TypeInto(QDialog& sheet, int page, int edit_id, const QString& text);  // replaces the text
void PressOk(QDialog& sheet);
void PressCancel(QDialog& sheet);

// Answers the next message box that appears within `timeout_ms` with OK; records its caption,
// text and whether it has the warning icon, and saves a picture of it if `png` is not empty.
struct MessageSeen {
  bool seen = false;
  QString caption, text;
  bool warning_icon = false;
};
void AnswerNextMessageBox(MessageSeen* seen, const QString& png = {}, int timeout_ms = 3000);

// Directory of the pictures the tests save (created on demand).
QString ScreenshotDir();

}  // namespace chron::testing
