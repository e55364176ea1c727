// A sheet window without toolkit: gives each page a fake dialog, runs InitSheet like the
// real window, then plays a script of user actions that decides the result.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "applet/panel.h"
#include "fake_dialog.h"

namespace chron::testing {

class FakeSheetWindow : public SheetWindow {
 public:
  using Script = std::function<int(CSntpPanel&, FakeSheetWindow&)>;

  FakeSheetWindow(CSntpPanel& panel, Script script) : panel_(panel), script_(std::move(script)) {}

  int RunModal() override {
    for (CPropertyPage* page : panel_.pages()) {
      dialogs.push_back(std::make_unique<FakeDialog>(page->Template()));
      page->Attach(dialogs.back().get());
    }
    panel_.InitSheet();
    messages_before_run = messages;
    return script_(panel_, *this);
  }
  uint32_t StartTimer(uint32_t id, uint32_t period_ms) override {
    timer_period = period_ms;
    timer_running = timer_available;
    return timer_available ? id : 0;
  }
  void KillTimer(uint32_t) override { timer_running = false; }
  void PostQuit() override { ++quits; }
  void ShowWarning(std::string_view text) override { messages.emplace_back(text); }

  FakeDialog& Page(size_t index) { return *dialogs.at(index); }

  std::vector<std::unique_ptr<FakeDialog>> dialogs;
  std::vector<std::string> messages;
  std::vector<std::string> messages_before_run;
  bool timer_available = true;
  bool timer_running = false;
  uint32_t timer_period = 0;
  int quits = 0;

 private:
  CSntpPanel& panel_;
  Script script_;
};

// Hands a window owned by the test to the sheet, so the test can look at it afterwards.
class BorrowedSheetWindow : public SheetWindow {
 public:
  explicit BorrowedSheetWindow(SheetWindow& window) : window_(window) {}
  int RunModal() override { return window_.RunModal(); }
  uint32_t StartTimer(uint32_t id, uint32_t period_ms) override { return window_.StartTimer(id, period_ms); }
  void KillTimer(uint32_t id) override { window_.KillTimer(id); }
  void PostQuit() override { window_.PostQuit(); }
  void ShowWarning(std::string_view text) override { window_.ShowWarning(text); }

 private:
  SheetWindow& window_;
};

}  // namespace chron::testing
