// The module chroncfg: its application object and the export CPlApplet.
#include <QApplication>
#include <memory>

#include "applet/applet.h"
#include "applet/qt/sheet_window.h"
#include "platform/named_event.h"
#include "platform/registry.h"

namespace chron {
namespace {

inline constexpr const char* kShutdownEventName = "Orbek.SNTP.Shutdown.Event";

// Created when the module is loaded, destroyed when it is unloaded.
class CSntpApp {
 public:
  CSntpApp() : applet_(Services()) {
    // Creates the event or opens the one another process holds; without it the sheet simply
    // has no shutdown watch.
    if (platform::NamedEvent::Create(kShutdownEventName, &event_) != 0) event_.reset();
  }
  ~CSntpApp() {
    event_.reset();
    application_.reset();
  }

 private:
  AppletServices Services() {
    AppletServices services;
    services.window_factory = [this](CSntpPanel& panel) {
      EnsureApplication();
      return qt::QtSheetWindowFactory()(panel);
    };
    services.shutdown_signalled = [this] {
      return event_ != nullptr && event_->Wait(0) == platform::WaitResult::kSignalled;
    };
    services.platform = PlatformFromEnvironment;
    services.open_registry = [] { return platform::OpenMachineRegistry(); };
    return services;
  }

  // A host without Qt of its own gets an application object from the module.
  void EnsureApplication() {
    if (QApplication::instance() != nullptr) return;
    static int argc = 1;
    static char name[] = "chroncfg";
    static char* argv[] = {name, nullptr};
    application_ = std::make_unique<QApplication>(argc, argv);
  }

  CSntpApplet applet_;
  std::unique_ptr<platform::NamedEvent> event_;
  std::unique_ptr<QApplication> application_;
};

CSntpApp the_app;

}  // namespace
}  // namespace chron

extern "C" __attribute__((visibility("default"))) int32_t CPlApplet(void* window, uint32_t message,
                                                                     intptr_t param1, intptr_t param2) {
  return chron::CplDispatch(window, message, param1, param2);
}
