// The property sheet CSntpPanel: its page set, the reading of the configuration when it
// opens, the writing when it is confirmed, and the watch on the named shutdown event. The
// window that shows it is reached only through SheetWindow.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>
#include <vector>

#include "applet/pages.h"
#include "config/configuration.h"
#include "platform/registry.h"

namespace chron {

class CSntpPanel;

// The window layer of the sheet.
class SheetWindow {
 public:
  virtual ~SheetWindow() = default;
  // Creates the window with one tab per page (attaching a Dialog to each page), calls
  // CSntpPanel::InitSheet, runs the sheet modally and returns 1 for OK, 0 otherwise.
  virtual int RunModal() = 0;
  // Periodic timer that calls CSntpPanel::WatchShutdownEvent; returns its identifier, 0 when
  // no timer could be started.
  virtual uint32_t StartTimer(uint32_t id, uint32_t period_ms) = 0;
  virtual void KillTimer(uint32_t id) = 0;
  // Ends the modal run with a result other than OK and asks the host's event loop to end.
  virtual void PostQuit() = 0;
  virtual void ShowWarning(std::string_view text) = 0;
};

using SheetWindowFactory = std::function<std::unique_ptr<SheetWindow>(CSntpPanel& panel)>;

// What the sheet needs from its surroundings.
struct SheetContext {
  platform::Registry* registry = nullptr;
  // True when the named shutdown event is signalled; empty when the applet holds no handle.
  std::function<bool()> shutdown_signalled;
  SheetWindowFactory window_factory;
  PlatformId platform = PlatformId::kWinNt;
  void* owner = nullptr;  // window of the host that opened the sheet
};

inline constexpr uint32_t kWatchTimerId = 1;
inline constexpr uint32_t kWatchPeriodMs = 100;

class CSntpPanel {
 public:
  // Builds the page set: Server (Windows NT only), Client, Information.
  CSntpPanel(Configuration& record, SheetContext context);
  ~CSntpPanel();

  std::string_view caption() const;
  void* owner() const { return context_.owner; }
  const std::vector<CPropertyPage*>& pages() const { return pages_; }
  bool shown(size_t index) const { return shown_[index]; }
  size_t current() const { return current_; }

  // Runs the sheet; on OK writes the configuration (message 109 when that fails).
  int RunSheet();

  // Called by the window layer.
  void InitSheet();                 // window created: watch timer, reading, first page
  bool LeavePage();                 // validates the current page; false keeps it current
  void ActivatePage(size_t index);  // makes `index` current, InitPage on its first display
  bool OnOk();                      // validates the current page, applies the shown pages
  void WatchShutdownEvent();        // every tick of the watch timer
  void OnDestroy();                 // window destroyed: the watch timer ends

  bool ReadConfiguration();
  bool WriteConfiguration();

 private:
  Configuration& record_;
  SheetContext context_;
  CServerDlg server_;
  CClientDlg client_;
  CInfoDlg info_;
  uint32_t timer_id_ = 0;
  std::vector<CPropertyPage*> pages_;
  std::vector<bool> shown_;
  size_t current_ = 0;
  SheetWindow* window_ = nullptr;
};

}  // namespace chron
