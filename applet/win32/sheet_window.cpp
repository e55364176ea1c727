// The property sheet of the Win32 window layer.
//
// The sheet drives the panel through the notifications of its pages: the first page's
// WM_INITDIALOG (the sheet exists, still invisible, and no page has been shown) runs
// CSntpPanel::InitSheet, PSN_SETACTIVE shows a page, PSN_KILLACTIVE validates the page being
// left (a failure keeps it current), and the first PSN_APPLY of an OK applies the shown pages.
// The watch timer runs on the sheet's window, which is subclassed for its WM_TIMER and
// WM_DESTROY.
#include "applet/win32/sheet_window.h"

#include <deque>
#include <vector>

#include "applet/resources.h"
#include "applet/win32/page_dialog.h"

namespace chron::win32_window {
namespace {

using platform::win32::Widen;

constexpr UINT_PTR kSubclassId = 1;

HMODULE ThisModule() {
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&ThisModule), &module);
  return module;
}

class Win32SheetWindow : public SheetWindow {
 public:
  explicit Win32SheetWindow(CSntpPanel& panel) : panel_(panel) {}

  int RunModal() override {
    INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_UPDOWN_CLASS | ICC_TAB_CLASSES};
    InitCommonControlsEx(&controls);
    const HMODULE module = ThisModule();
    std::vector<PROPSHEETPAGEW> sheets;
    for (size_t i = 0; i < panel_.pages().size(); ++i) {
      pages_.push_back(Page{this, i, {}});
      PROPSHEETPAGEW sheet{};
      sheet.dwSize = sizeof(sheet);
      sheet.dwFlags = PSP_DEFAULT;  // the tab bears the template's caption
      sheet.hInstance = module;
      sheet.pszTemplate = MAKEINTRESOURCEW(panel_.pages()[i]->Template().id);
      sheet.pfnDlgProc = PageProc;
      sheet.lParam = reinterpret_cast<LPARAM>(&pages_.back());
      sheets.push_back(sheet);
    }
    const std::wstring caption = Widen(panel_.caption());
    PROPSHEETHEADERW header{};
    header.dwSize = sizeof(header);
    header.dwFlags = PSH_PROPSHEETPAGE | PSH_NOAPPLYNOW | PSH_USEICONID;
    header.hwndParent = static_cast<HWND>(panel_.owner());
    header.hInstance = module;
    header.pszIcon = MAKEINTRESOURCEW(kIdiApplet);  // the applet's icon in the title bar
    header.pszCaption = caption.c_str();
    header.nPages = static_cast<UINT>(sheets.size());
    header.nStartPage = 0;
    header.ppsp = sheets.data();
    PropertySheetW(&header);  // -1 after WM_QUIT, which it posts again to this thread
    sheet_ = nullptr;
    return confirmed_ && !quit_ ? 1 : 0;
  }

  uint32_t StartTimer(uint32_t id, uint32_t period_ms) override {
    if (sheet_ == nullptr || SetTimer(sheet_, id, period_ms, nullptr) == 0) return 0;
    return id;
  }

  void KillTimer(uint32_t id) override {
    if (sheet_ != nullptr) ::KillTimer(sheet_, id);
  }

  // WM_QUIT ends the sheet's modal loop (and any message box's above it); the loop posts it
  // again, so that the hosting message loop ends too.
  void PostQuit() override {
    if (quit_ || sheet_ == nullptr) return;
    quit_ = true;
    PostMessageW(sheet_, WM_QUIT, 0, 0);
  }

  void ShowWarning(std::string_view text) override { ShowAppletMessage(text); }

 private:
  struct Page {
    Win32SheetWindow* sheet;
    size_t index;
    PageDialog dialog;
  };

  static INT_PTR CALLBACK PageProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_INITDIALOG) {
      auto* page = reinterpret_cast<Page*>(reinterpret_cast<const PROPSHEETPAGEW*>(lparam)->lParam);
      SetWindowLongPtrW(window, DWLP_USER, reinterpret_cast<LONG_PTR>(page));
      page->sheet->OnPageCreated(*page, window);
      return TRUE;
    }
    auto* page = reinterpret_cast<Page*>(GetWindowLongPtrW(window, DWLP_USER));
    if (page == nullptr) return FALSE;
    CPropertyPage& rules = *page->sheet->panel_.pages()[page->index];
    switch (message) {
      case WM_COMMAND:
        if (HIWORD(wparam) == BN_CLICKED) rules.OnClicked(LOWORD(wparam));
        return FALSE;
      case WM_NOTIFY: {
        LONG_PTR result = 0;
        if (!page->sheet->OnNotify(*page, *reinterpret_cast<const NMHDR*>(lparam), &result)) return FALSE;
        SetWindowLongPtrW(window, DWLP_MSGRESULT, result);
        return TRUE;
      }
      default: return FALSE;
    }
  }

  static LRESULT CALLBACK SheetProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam, UINT_PTR, DWORD_PTR data) {
    auto* self = reinterpret_cast<Win32SheetWindow*>(data);
    if (message == WM_TIMER && wparam == kWatchTimerId) self->panel_.WatchShutdownEvent();
    if (message == WM_DESTROY) {
      self->panel_.OnDestroy();
      RemoveWindowSubclass(window, SheetProc, kSubclassId);
    }
    return DefSubclassProc(window, message, wparam, lparam);
  }

  void OnPageCreated(Page& page, HWND window) {
    page.dialog.Attach(window);
    panel_.pages()[page.index]->Attach(&page.dialog);
    if (sheet_ != nullptr) return;
    sheet_ = GetParent(window);
    SetWindowSubclass(sheet_, SheetProc, kSubclassId, reinterpret_cast<DWORD_PTR>(this));
    panel_.InitSheet();
  }

  // Sets *result for the notifications the sheet acts on and returns true for them.
  bool OnNotify(const Page& page, const NMHDR& header, LONG_PTR* result) {
    switch (header.code) {
      case PSN_SETACTIVE: panel_.ActivatePage(page.index); return true;
      case PSN_KILLACTIVE: *result = panel_.LeavePage() ? FALSE : TRUE; return true;
      case PSN_APPLY:
        // Sent to every page created; the first one applies all the shown pages.
        if (!confirmed_) {
          if (!panel_.OnOk()) {
            *result = PSNRET_INVALID_NOCHANGEPAGE;
            return true;
          }
          confirmed_ = true;
        }
        *result = PSNRET_NOERROR;
        return true;
      default: return false;
    }
  }

  CSntpPanel& panel_;
  std::deque<Page> pages_;  // stable addresses: each page's window keeps a pointer to its entry
  HWND sheet_ = nullptr;
  bool confirmed_ = false;
  bool quit_ = false;
};

}  // namespace

SheetWindowFactory Win32SheetWindowFactory() {
  return [](CSntpPanel& panel) -> std::unique_ptr<SheetWindow> { return std::make_unique<Win32SheetWindow>(panel); };
}

}  // namespace chron::win32_window
