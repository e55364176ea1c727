// One page of the sheet as the page rules see it: the Dialog interface over the page's window,
// a child dialog that the property sheet makes from the page's template in the module's
// resources. Controls are addressed by their identifiers (GetDlgItem).
#pragma once

#include "applet/dialog.h"
#include "applet/win32/windows_api.h"

namespace chron::win32_window {

class PageDialog : public Dialog {
 public:
  void Attach(HWND page) { page_ = page; }
  HWND window() const { return page_; }

  std::string GetText(int id) override;
  void SetText(int id, std::string_view text) override;
  bool IsChecked(int id) override;
  void SetChecked(int id, bool checked) override;
  bool IsEnabled(int id) override;
  void Enable(int id, bool enabled) override;
  void EnableAll(bool enabled) override;
  void Show(int id, bool visible) override;
  void FocusAndSelectAll(int id) override;
  void SetFocus(int id) override;
  void SetRange(int id, int lower, int upper) override;
  void LimitText(int id, int max_bytes) override;
  void Repaint() override;
  void ShowWarning(std::string_view text) override;

 private:
  HWND Item(int id) const { return GetDlgItem(page_, id); }
  HWND page_ = nullptr;
};

// Message box of the applet: caption string 57344, exclamation-mark icon, OK button, owned by
// the window that is active at that moment. Returns when the user has answered it.
void ShowAppletMessage(std::string_view text);

}  // namespace chron::win32_window
