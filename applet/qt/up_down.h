// Up-down control: two arrow buttons beside an edit field (its buddy) that step the number
// in the field within a range and write it back as plain decimal digits, without
// thousands separators. The arrow keys in the buddy step as well.
#pragma once

#include <QLineEdit>
#include <QToolButton>
#include <QWidget>

namespace chron::qt {

class UpDown : public QWidget {
 public:
  UpDown(QLineEdit* buddy, QWidget* parent);
  void SetRange(int lower, int upper);
  int lower() const { return lower_; }
  int upper() const { return upper_; }
  // Steps by `delta` from the number in the buddy (or the last position when the buddy
  // holds no number), stopping at the ends of the range.
  void Step(int delta);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  QLineEdit* buddy_;
  QToolButton* up_;
  QToolButton* down_;
  int lower_ = 0;
  int upper_ = 100;
  int position_ = 0;
};

}  // namespace chron::qt
