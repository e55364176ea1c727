// chroncfg.cpl as the Control Panel sees it: the export CPlApplet and its answers, and the
// module's resources compared with the data the page rules use (the dialog templates control
// by control, the string table, the icon and the version resource).
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>

#include "applet/cpl.h"
#include "applet/dialog.h"
#include "applet/resources.h"
#include "applet/win32/windows_api.h"
#include "win32_support.h"

namespace chron::testing {
namespace {

using platform::win32::Narrow;

TEST(Module, AnswersTheControlPanelMessages) {
  ASSERT_NE(Module(), nullptr) << "LoadLibrary failed: " << GetLastError();
  // The single export, by its undecorated name.
  const auto* base = reinterpret_cast<const uint8_t*>(Module());
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const auto* exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(
      base + nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT].VirtualAddress);
  ASSERT_EQ(exports->NumberOfFunctions, 1u);
  ASSERT_EQ(exports->NumberOfNames, 1u);
  EXPECT_STREQ(reinterpret_cast<const char*>(base + *reinterpret_cast<const DWORD*>(base + exports->AddressOfNames)),
               "CPlApplet");
  ASSERT_NE(GetProcAddress(Module(), "CPlApplet"), nullptr);
  EXPECT_EQ(CallApplet(CPL_INIT), 1);
  EXPECT_EQ(CallApplet(CPL_GETCOUNT), 1);
  CPLINFO info{-1, -1, -1, -1};
  EXPECT_EQ(CallApplet(CPL_INQUIRE, 0, reinterpret_cast<LPARAM>(&info)), 0);
  EXPECT_EQ(info.idIcon, kIdiApplet);
  EXPECT_EQ(info.idName, kIdsAppletName);
  EXPECT_EQ(info.idInfo, kIdsAppletInfo);
  EXPECT_EQ(info.lData, 0);
  NEWCPLINFO fresh;
  std::memset(&fresh, 0xAB, sizeof(fresh));
  NEWCPLINFO given = fresh;
  EXPECT_EQ(CallApplet(CPL_NEWINQUIRE, 0, reinterpret_cast<LPARAM>(&given)), 0);
  EXPECT_EQ(std::memcmp(&given, &fresh, sizeof(fresh)), 0) << "NEWCPLINFO left as passed";
  EXPECT_EQ(CallApplet(CPL_STARTWPARMSW), 0);  // the Control Panel then opens it with CPL_DBLCLK
  EXPECT_EQ(CallApplet(CPL_SELECT), 1);
  EXPECT_EQ(CallApplet(CPL_STOP), 1);
  EXPECT_EQ(CallApplet(CPL_EXIT), 0);
  EXPECT_EQ(CallApplet(99), 1);
}

// Reads the parts of a DLGTEMPLATE or DLGITEMTEMPLATE in resource order.
class TemplateReader {
 public:
  explicit TemplateReader(const void* data) : p_(static_cast<const uint8_t*>(data)), start_(p_) {}
  uint16_t Word() {
    uint16_t w;
    std::memcpy(&w, p_, 2);
    p_ += 2;
    return w;
  }
  uint32_t Dword() { return Word() | static_cast<uint32_t>(Word()) << 16; }
  int16_t Short() { return static_cast<int16_t>(Word()); }
  // A string, or an ordinal as "#<n>".
  std::string StringOrOrdinal() {
    if (std::memcmp(p_, "\xff\xff", 2) == 0) {
      p_ += 2;
      return "#" + std::to_string(Word());
    }
    std::wstring text;
    for (uint16_t c = Word(); c != 0; c = Word()) text += static_cast<wchar_t>(c);
    return Narrow(text);
  }
  void AlignDword() { p_ = start_ + (p_ - start_ + 3) / 4 * 4; }
  void Skip(size_t bytes) { p_ += bytes; }

 private:
  const uint8_t* p_;
  const uint8_t* start_;
};

// A window class name in lower case; the predefined classes may be stored as ordinals.
std::string ClassName(std::string stored) {
  if (stored == "#128") return "button";
  if (stored == "#129") return "edit";
  if (stored == "#130") return "static";
  for (char& c : stored) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return stored;
}

// Window class and style of a control as the window layer needs it.
std::pair<std::string, uint32_t> ClassAndStyle(const ControlTemplate& c) {
  uint32_t style = WS_CHILD | (c.visible ? WS_VISIBLE : 0) | (c.group ? WS_GROUP : 0) | (c.tab_stop ? WS_TABSTOP : 0);
  switch (c.kind) {
    case ControlKind::kCheckBox: return {"button", style | BS_AUTOCHECKBOX | (c.text_top ? BS_TOP : 0)};
    case ControlKind::kRadioButton: return {"button", style | BS_AUTORADIOBUTTON};
    case ControlKind::kGroupBox: return {"button", style | BS_GROUPBOX};
    case ControlKind::kEdit: return {"edit", style | WS_BORDER | ES_AUTOHSCROLL | (c.digits_only ? ES_NUMBER : 0)};
    case ControlKind::kLabel:
      return {"static", style | (c.align == TextAlign::kCentre  ? SS_CENTER
                                 : c.align == TextAlign::kRight ? SS_RIGHT
                                                                : SS_LEFT)};
    case ControlKind::kUpDown:
      return {"msctls_updown32",
              style | UDS_SETBUDDYINT | UDS_ALIGNRIGHT | UDS_AUTOBUDDY | UDS_ARROWKEYS | UDS_NOTHOUSANDS};
  }
  return {};
}

TEST(Resources, DialogTemplatesAreThoseOfThePages) {
  for (const PageTemplate* page : {&ClientTemplate(), &ServerTemplate(), &InfoTemplate()}) {
    SCOPED_TRACE(page->id);
    HRSRC found = FindResourceW(Module(), MAKEINTRESOURCEW(page->id), MAKEINTRESOURCEW(5) /* RT_DIALOG */);
    ASSERT_NE(found, nullptr);
    TemplateReader r(LockResource(LoadResource(Module(), found)));
    EXPECT_EQ(r.Dword(), static_cast<uint32_t>(DS_SETFONT | WS_CHILD | WS_DISABLED | WS_CAPTION));
    EXPECT_EQ(r.Dword(), 0u);  // extended style
    const uint16_t count = r.Word();
    ASSERT_EQ(count, page->controls.size());
    EXPECT_EQ(r.Short(), 0);
    EXPECT_EQ(r.Short(), 0);
    EXPECT_EQ(r.Short(), page->cx);
    EXPECT_EQ(r.Short(), page->cy);
    EXPECT_EQ(r.StringOrOrdinal(), "");  // no menu
    EXPECT_EQ(r.StringOrOrdinal(), "");  // the dialog class
    EXPECT_EQ(r.StringOrOrdinal(), page->caption);
    EXPECT_EQ(r.Word(), 8);
    EXPECT_EQ(r.StringOrOrdinal(), page->font);
    for (const ControlTemplate& c : page->controls) {
      SCOPED_TRACE(std::string(c.text) + " " + std::to_string(c.id));
      r.AlignDword();
      const auto [cls, style] = ClassAndStyle(c);
      EXPECT_EQ(r.Dword(), style);
      EXPECT_EQ(r.Dword(), 0u);
      EXPECT_EQ(r.Short(), c.x);
      EXPECT_EQ(r.Short(), c.y);
      EXPECT_EQ(r.Short(), c.cx);
      EXPECT_EQ(r.Short(), c.cy);
      EXPECT_EQ(r.Word(), static_cast<uint16_t>(c.id));
      const std::string stored_class = r.StringOrOrdinal();
      EXPECT_EQ(ClassName(stored_class), cls);
      EXPECT_EQ(r.StringOrOrdinal(), c.text);
      r.Skip(r.Word());  // creation data
    }
  }
}

TEST(Resources, StringsIconAndVersion) {
  for (int id :
       {kIdsSheetCaption, kIdsReadError, kIdsWriteError, kIdsAppletName, kIdsAppletInfo, kIdsMessageBoxCaption}) {
    wchar_t text[256];
    const int length = LoadStringW(Module(), static_cast<UINT>(id), text, 256);
    EXPECT_EQ(Narrow({text, static_cast<size_t>(length)}), AppletString(id)) << id;
  }

  // One 32 by 32 image in 16 colours.
  HRSRC group = FindResourceW(Module(), MAKEINTRESOURCEW(kIdiApplet), MAKEINTRESOURCEW(14) /* RT_GROUP_ICON */);
  ASSERT_NE(group, nullptr);
  TemplateReader icons(LockResource(LoadResource(Module(), group)));
  icons.Skip(4);
  ASSERT_EQ(icons.Word(), 1);  // images
  const uint16_t size = icons.Word();
  EXPECT_EQ(size & 0xff, 32);
  EXPECT_EQ(size >> 8, 32);
  EXPECT_EQ(icons.Word() & 0xff, 16);  // colours
  icons.Skip(2);
  EXPECT_EQ(icons.Word(), 4);  // bits per pixel
  EXPECT_NE(LoadIconW(Module(), MAKEINTRESOURCEW(kIdiApplet)), nullptr);

  const std::wstring path = ModulePath();
  std::vector<uint8_t> data(GetFileVersionInfoSizeW(path.c_str(), nullptr));
  ASSERT_FALSE(data.empty());
  ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, static_cast<DWORD>(data.size()), data.data()));
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(fixed->dwFileVersionMS, 0x00010001u);
  EXPECT_EQ(fixed->dwFileVersionLS, 0u);
  auto text = [&](const wchar_t* name) {
    wchar_t* value = nullptr;
    UINT chars = 0;
    const std::wstring query = std::wstring(L"\\StringFileInfo\\040704B0\\") + name;
    if (!VerQueryValueW(data.data(), query.c_str(), reinterpret_cast<void**>(&value), &chars)) return std::string();
    return Narrow(value);
  };
  EXPECT_EQ(text(L"FileVersion"), kFileVersion);
  EXPECT_EQ(text(L"ProductVersion"), kProductVersion);
  EXPECT_EQ(text(L"FileDescription"), kFileDescription);
  EXPECT_EQ(text(L"OriginalFilename"), "chroncfg.cpl");
  WORD* translation = nullptr;
  ASSERT_TRUE(
      VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &length));
  EXPECT_EQ(translation[0], kVersionLanguage);
}

}  // namespace
}  // namespace chron::testing
