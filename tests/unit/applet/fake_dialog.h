// A page window for the page rules without any toolkit: the controls of a template with
// their state, and a record of message boxes, focus and selection.
#pragma once

#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "applet/dialog.h"

namespace chron::testing {

class FakeDialog : public Dialog {
 public:
  struct Control {
    ControlKind kind;
    std::string text;
    bool checked = false;
    bool enabled = true;
    bool visible = true;
    int lower = 0, upper = 0;  // up-down range
    int limit = -1;            // edit limit in bytes, -1 none
  };

  explicit FakeDialog(const PageTemplate& page) {
    for (const ControlTemplate& c : page.controls) {
      Control control{c.kind, std::string(c.text)};
      control.visible = c.visible;
      if (c.id == -1) {
        statics.push_back(control);
      } else {
        controls[c.id] = control;
      }
    }
  }

  std::string GetText(int id) override { return At(id).text; }
  void SetText(int id, std::string_view text) override { At(id).text = std::string(text); }
  bool IsChecked(int id) override { return At(id).checked; }
  void SetChecked(int id, bool checked) override { At(id).checked = checked; }
  bool IsEnabled(int id) override { return At(id).enabled; }
  void Enable(int id, bool enabled) override { At(id).enabled = enabled; }
  void EnableAll(bool enabled) override {
    for (auto& [id, c] : controls) c.enabled = enabled;
    for (auto& c : statics) c.enabled = enabled;
  }
  void Show(int id, bool visible) override { At(id).visible = visible; }
  void FocusAndSelectAll(int id) override {
    focus = id;
    selected_all = id;
  }
  void SetFocus(int id) override {
    focus = id;
    At(id);
  }
  void SetRange(int id, int lower, int upper) override {
    At(id).lower = lower;
    At(id).upper = upper;
  }
  void LimitText(int id, int max_bytes) override { At(id).limit = max_bytes; }
  void Repaint() override { ++repaints; }
  void ShowWarning(std::string_view text) override {
    messages.emplace_back(text);
    // The failing control gets the focus only after the box is answered.
    focus_at_message.push_back(focus);
  }

  // A user's click on a button: automatic radio buttons clear the others of their group.
  void Click(int id, const std::vector<int>& radio_group = {}) {
    Control& c = At(id);
    if (c.kind == ControlKind::kRadioButton) {
      for (int other : radio_group) At(other).checked = false;
      c.checked = true;
    } else {
      c.checked = !c.checked;
    }
  }

  Control& At(int id) {
    auto it = controls.find(id);
    if (it == controls.end()) throw std::out_of_range("no control " + std::to_string(id));
    return it->second;
  }
  bool AllStaticsEnabled(bool enabled) const {
    for (const auto& c : statics) {
      if (c.enabled != enabled) return false;
    }
    return true;
  }

  std::map<int, Control> controls;
  std::vector<Control> statics;
  std::vector<std::string> messages;
  std::vector<int> focus_at_message;
  int focus = 0;
  int selected_all = 0;
  int repaints = 0;
};

}  // namespace chron::testing
