// The Dialog interface over a page window.
#include "applet/win32/page_dialog.h"

#include "applet/resources.h"

namespace chron::win32_window {

using platform::win32::Narrow;
using platform::win32::Widen;

void ShowAppletMessage(std::string_view text) {
  MessageBoxW(GetActiveWindow(), Widen(text).c_str(), Widen(AppletString(kIdsMessageBoxCaption)).c_str(),
              MB_OK | MB_ICONEXCLAMATION);
}

std::string PageDialog::GetText(int id) {
  const HWND item = Item(id);
  std::wstring text(static_cast<size_t>(GetWindowTextLengthW(item)) + 1, L'\0');
  text.resize(static_cast<size_t>(GetWindowTextW(item, text.data(), static_cast<int>(text.size()))));
  return Narrow(text);
}

void PageDialog::SetText(int id, std::string_view text) { SetWindowTextW(Item(id), Widen(text).c_str()); }

bool PageDialog::IsChecked(int id) { return SendMessageW(Item(id), BM_GETCHECK, 0, 0) == BST_CHECKED; }

void PageDialog::SetChecked(int id, bool checked) {
  SendMessageW(Item(id), BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

bool PageDialog::IsEnabled(int id) { return IsWindowEnabled(Item(id)) != FALSE; }

void PageDialog::Enable(int id, bool enabled) { EnableWindow(Item(id), enabled ? TRUE : FALSE); }

void PageDialog::EnableAll(bool enabled) {
  for (HWND child = GetWindow(page_, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
    EnableWindow(child, enabled ? TRUE : FALSE);
  }
}

void PageDialog::Show(int id, bool visible) { ShowWindow(Item(id), visible ? SW_SHOW : SW_HIDE); }

void PageDialog::FocusAndSelectAll(int id) {
  const HWND item = Item(id);
  ::SetFocus(item);
  SendMessageW(item, EM_SETSEL, 0, -1);
}

void PageDialog::SetFocus(int id) { ::SetFocus(Item(id)); }

void PageDialog::SetRange(int id, int lower, int upper) { SendMessageW(Item(id), UDM_SETRANGE32, lower, upper); }

// The edit counts characters; a text of more bytes than that is caught when the page is left.
void PageDialog::LimitText(int id, int max_bytes) { SendMessageW(Item(id), EM_SETLIMITTEXT, max_bytes, 0); }

void PageDialog::Repaint() { InvalidateRect(page_, nullptr, TRUE); }

void PageDialog::ShowWarning(std::string_view text) { ShowAppletMessage(text); }

}  // namespace chron::win32_window
