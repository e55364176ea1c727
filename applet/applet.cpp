// The applet objects and the dispatch of the Control Panel messages.
#include "applet/applet.h"

#include <cstdlib>

#include "applet/resources.h"
#include "config/named_objects.h"
#include "platform/ascii_case.h"

namespace chron {
namespace {
CControlPanelApplet* g_current_applet = nullptr;
}  // namespace

CControlPanelApplet::CControlPanelApplet() { g_current_applet = this; }
CControlPanelApplet::~CControlPanelApplet() {
  if (g_current_applet == this) g_current_applet = nullptr;
}
int32_t CControlPanelApplet::OnDoubleClick(void*, uint32_t, intptr_t) { return 0; }
int32_t CControlPanelApplet::OnExit() { return 0; }
int32_t CControlPanelApplet::OnGetCount() { return 1; }
int32_t CControlPanelApplet::OnInit() { return 1; }
int32_t CControlPanelApplet::OnInquire(uint32_t, CPLINFO*) { return 0; }
int32_t CControlPanelApplet::OnNewInquire(uint32_t, NEWCPLINFO*) { return 0; }
int32_t CControlPanelApplet::OnSelect(uint32_t, intptr_t) { return 1; }
int32_t CControlPanelApplet::OnStop(uint32_t, intptr_t) { return 1; }

CControlPanelApplet* CurrentApplet() { return g_current_applet; }

CSntpApplet::CSntpApplet(AppletServices services) : services_(std::move(services)) {}

int32_t CSntpApplet::OnDoubleClick(void* window, uint32_t, intptr_t) {
  ShowConfigurationSheet(window);
  return 0;
}

int32_t CSntpApplet::OnInquire(uint32_t, CPLINFO* info) {
  if (info != nullptr) {
    info->idIcon = kIdiApplet;
    info->idName = kIdsAppletName;
    info->idInfo = kIdsAppletInfo;
    info->lData = 0;
  }
  return 0;
}

int CSntpApplet::ShowConfigurationSheet(void* window) {
  std::unique_ptr<platform::Registry> registry;
  if (services_.open_registry) registry = services_.open_registry();
  SheetContext context;
  context.registry = registry.get();
  context.shutdown_signalled = services_.shutdown_signalled;
  context.window_factory = services_.window_factory;
  context.platform = services_.platform ? services_.platform() : PlatformId::kWinNt;
  context.owner = window;
  CSntpPanel panel(AppletRecord(), std::move(context));
  return panel.RunSheet();
}

CSntpApp::CSntpApp(SheetWindowFactory window_factory, std::function<PlatformId()> platform_id)
    : applet_(Services(std::move(window_factory), std::move(platform_id))) {
  if (platform::NamedEvent::Create(kShutdownEventName, &event_)) event_.reset();
}

AppletServices CSntpApp::Services(SheetWindowFactory window_factory, std::function<PlatformId()> platform_id) {
  AppletServices services;
  services.window_factory = std::move(window_factory);
  services.shutdown_signalled = [this] {
    return event_ != nullptr && event_->Wait(0) == platform::WaitResult::kSignalled;
  };
  services.platform = std::move(platform_id);
  services.open_registry = [] { return platform::OpenMachineRegistry(); };
  return services;
}

Configuration& AppletRecord() {
  static Configuration record;
  return record;
}

int32_t CplDispatch(void* window, uint32_t message, intptr_t param1, intptr_t param2) {
  CControlPanelApplet* applet = CurrentApplet();
  if (message == CPL_NEWINQUIRE) return 0;  // answered here: neither applet nor record touched
  // Parameters are not understood: 0 (not processed) lets the Control Panel open the sheet with
  // CPL_DBLCLK instead of taking the start as done (`control chroncfg.cpl` sends it first).
  if (message == CPL_STARTWPARMSA || message == CPL_STARTWPARMSW) return 0;
  if (applet == nullptr) return 1;
  const auto number = static_cast<uint32_t>(param1);
  switch (message) {
    case CPL_INIT: return applet->OnInit();
    case CPL_GETCOUNT: return applet->OnGetCount();
    case CPL_INQUIRE: return applet->OnInquire(number, reinterpret_cast<CPLINFO*>(param2));
    case CPL_SELECT: return applet->OnSelect(number, param2);
    case CPL_DBLCLK: return applet->OnDoubleClick(window, number, param2);
    case CPL_STOP: return applet->OnStop(number, param2);
    case CPL_EXIT: return applet->OnExit();
    default: return 1;
  }
}

PlatformId PlatformFromEnvironment() {
  const char* value = std::getenv("CHRON_APPLET_PLATFORM");
  return value != nullptr && platform::EqualsIgnoringCase(value, "win95") ? PlatformId::kWin95 : PlatformId::kWinNt;
}

}  // namespace chron
