// The page rules see a page's window only through this interface: controls addressed by
// their identifiers (1000-1024), so that the same rules drive the real widgets and the
// fake dialog of the unit tests. Also the description of the page templates.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace chron {

enum class ControlKind { kCheckBox, kRadioButton, kEdit, kUpDown, kLabel, kGroupBox };
enum class TextAlign { kLeft, kCentre, kRight };

// One control of a template. Rectangles are in dialog units (x, y, width, height).
struct ControlTemplate {
  int id;  // kIdcStatic for labels and group boxes without identifier
  ControlKind kind;
  std::string_view text;  // "&" marks the mnemonic letter
  int x, y, cx, cy;
  bool group = false;  // starts a group (radio groups run to the next such control)
  bool tab_stop = false;
  bool visible = true;
  TextAlign align = TextAlign::kLeft;
  bool text_top = false;     // check box text aligned to the top
  bool digits_only = false;  // edit that takes only digits when typing
};

struct PageTemplate {
  int id;
  std::string_view caption;               // tab title
  int cx, cy;                             // size in dialog units
  std::string_view font;                  // face name; the point size is 8
  std::vector<ControlTemplate> controls;  // in template order
};

const PageTemplate& ClientTemplate();
const PageTemplate& ServerTemplate();
const PageTemplate& InfoTemplate();

// Direction of ExchangePageData.
enum class Exchange { kToControls, kFromControls };

class Dialog {
 public:
  virtual ~Dialog() = default;

  virtual std::string GetText(int id) = 0;
  virtual void SetText(int id, std::string_view text) = 0;
  // Check boxes and radio buttons. Setting a radio button does not clear the others of its
  // group (as BM_SETCHECK); a click by the user does.
  virtual bool IsChecked(int id) = 0;
  virtual void SetChecked(int id, bool checked) = 0;
  virtual bool IsEnabled(int id) = 0;
  virtual void Enable(int id, bool enabled) = 0;
  // Every child control of the page, those without identifier included.
  virtual void EnableAll(bool enabled) = 0;
  virtual void Show(int id, bool visible) = 0;
  // Gives the control the keyboard focus and selects all of its text.
  virtual void FocusAndSelectAll(int id) = 0;
  virtual void SetFocus(int id) = 0;
  // Range of an up-down control.
  virtual void SetRange(int id, int lower, int upper) = 0;
  // Longest text the user may type into an edit, in bytes; a longer text already there stays.
  virtual void LimitText(int id, int max_bytes) = 0;
  virtual void Repaint() = 0;
  // Message box with the applet's caption, an exclamation-mark icon and an OK button;
  // returns when the user has answered it.
  virtual void ShowWarning(std::string_view text) = 0;
};

}  // namespace chron
