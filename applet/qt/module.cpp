// The module chroncfg: its application object and the export CPlApplet.
#include <QApplication>
#include <memory>

#include "applet/applet.h"
#include "applet/qt/sheet_window.h"

namespace chron {
namespace {

// A host without Qt of its own gets an application object for the time the sheet is open;
// it goes with the window, before the module is unloaded (Qt cannot be torn down at exit).
class WindowWithApplication : public SheetWindow {
 public:
  explicit WindowWithApplication(CSntpPanel& panel)
      : application_(std::make_unique<QApplication>(argc_, argv_)), window_(qt::QtSheetWindowFactory()(panel)) {}
  int RunModal() override { return window_->RunModal(); }
  uint32_t StartTimer(uint32_t id, uint32_t period_ms) override { return window_->StartTimer(id, period_ms); }
  void KillTimer(uint32_t id) override { window_->KillTimer(id); }
  void PostQuit() override { window_->PostQuit(); }
  void ShowWarning(std::string_view text) override { window_->ShowWarning(text); }

 private:
  static inline int argc_ = 1;
  static inline char name_[] = "chroncfg";
  static inline char* argv_[] = {name_, nullptr};
  std::unique_ptr<QApplication> application_;  // declared first: destroyed after the window
  std::unique_ptr<SheetWindow> window_;
};

// Created when the module is loaded, destroyed when it is unloaded. A host without Qt of its
// own gets an application object for the time the sheet is open.
CSntpApp the_app(
    [](CSntpPanel& panel) -> std::unique_ptr<SheetWindow> {
      if (QApplication::instance() != nullptr) return qt::QtSheetWindowFactory()(panel);
      return std::make_unique<WindowWithApplication>(panel);
    },
    PlatformFromEnvironment);

}  // namespace
}  // namespace chron

extern "C" __attribute__((visibility("default"))) int32_t CPlApplet(void* window, uint32_t message, intptr_t param1,
                                                                    intptr_t param2) {
  return chron::CplDispatch(window, message, param1, param2);
}
