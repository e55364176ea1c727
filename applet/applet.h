// The applet objects behind CPlApplet: the base class with its current-applet pointer, the
// SNTP applet, and the module-wide configuration record.
#pragma once

#include <cstdint>

#include "applet/cpl.h"
#include "applet/panel.h"
#include "config/configuration.h"
#include "platform/named_event.h"

namespace chron {

class CControlPanelApplet {
 public:
  CControlPanelApplet();  // becomes the current applet
  virtual ~CControlPanelApplet();
  virtual int32_t OnDoubleClick(void* window, uint32_t applet, intptr_t data);
  virtual int32_t OnExit();
  virtual int32_t OnGetCount();
  virtual int32_t OnInit();
  virtual int32_t OnInquire(uint32_t applet, CPLINFO* info);
  virtual int32_t OnNewInquire(uint32_t applet, NEWCPLINFO* info);
  virtual int32_t OnSelect(uint32_t applet, intptr_t data);
  virtual int32_t OnStop(uint32_t applet, intptr_t data);
};

CControlPanelApplet* CurrentApplet();

// How the SNTP applet reaches the rest of the module: the window layer, the named shutdown
// event and the platform identifier.
struct AppletServices {
  SheetWindowFactory window_factory;
  std::function<bool()> shutdown_signalled;  // empty when the module holds no event handle
  std::function<PlatformId()> platform;
  // Opens the machine registry afresh for each opening of the sheet.
  std::function<std::unique_ptr<platform::Registry>()> open_registry;
};

class CSntpApplet : public CControlPanelApplet {
 public:
  explicit CSntpApplet(AppletServices services);
  int32_t OnDoubleClick(void* window, uint32_t applet, intptr_t data) override;
  int32_t OnInquire(uint32_t applet, CPLINFO* info) override;

  // Builds, runs and destroys the sheet; returns the sheet's result.
  int ShowConfigurationSheet(void* window);

 private:
  AppletServices services_;
};

// The module's application object, one static instance per window layer: the SNTP applet on
// the machine's registry, and the named shutdown event, held from module load to unload
// (created, or opened when another process holds it; without it the sheet simply has no
// shutdown watch).
class CSntpApp {
 public:
  CSntpApp(SheetWindowFactory window_factory, std::function<PlatformId()> platform_id);

 private:
  AppletServices Services(SheetWindowFactory window_factory, std::function<PlatformId()> platform_id);
  CSntpApplet applet_;
  std::unique_ptr<platform::NamedEvent> event_;
};

// The module-wide configuration record; holds the defaults until the first opening.
Configuration& AppletRecord();

// The body of CPlApplet: dispatches `message` to the current applet.
int32_t CplDispatch(void* window, uint32_t message, intptr_t param1, intptr_t param2);

// Platform identifier from the environment set by the host: CHRON_APPLET_PLATFORM=win95
// gives the Windows 95 layout, anything else (or nothing) Windows NT.
PlatformId PlatformFromEnvironment();

}  // namespace chron
