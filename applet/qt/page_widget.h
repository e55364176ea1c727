// One page of the sheet as a widget built from its dialog template; implements the Dialog
// interface through which the page rules see it. Each control's objectName is its id.
#pragma once

#include <QFont>
#include <QMap>
#include <QWidget>
#include <functional>

#include "applet/dialog.h"

namespace chron::qt {

// Dialog units of a font: x * average character width / 4, y * height / 8.
struct DialogUnits {
  explicit DialogUnits(const QFont& font);
  int X(int x) const { return x * base_x / 4; }
  int Y(int y) const { return y * base_y / 8; }
  int base_x;
  int base_y;
};

// The applet's dialog font: "MS Sans Serif" 8 points, or the nearest the system has.
QFont DialogFont();

// Message box of the applet: warning icon, caption "Konfiguration - SNTP", OK button.
void ShowAppletMessage(QWidget* owner, std::string_view text);

class PageWidget : public QWidget, public Dialog {
 public:
  // `on_click` receives the id of every button the user clicks.
  PageWidget(const PageTemplate& page, std::function<void(int)> on_click, QWidget* parent);

  QWidget* Control(int id) const;

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
  void BuildControl(const PageTemplate& page, size_t index, const DialogUnits& du);
  QMap<int, QWidget*> controls_;
  QList<QWidget*> children_;        // every control, in template order
  QList<QList<int>> radio_groups_;  // ids of the radio buttons of each group
  std::function<void(int)> on_click_;
};

}  // namespace chron::qt
