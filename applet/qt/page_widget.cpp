// Page widgets of the window layer.
#include "applet/qt/page_widget.h"

#include <QApplication>
#include <QCheckBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QRadioButton>
#include <QValidator>
#include <algorithm>

#include "applet/qt/up_down.h"
#include "applet/resources.h"

namespace chron::qt {
namespace {

QString Q(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

qsizetype NonDigits(const QString& text) {
  return std::count_if(text.cbegin(), text.cend(), [](QChar ch) { return ch < u'0' || ch > u'9'; });
}

// What typing may put into an edit: at most a number of UTF-8 bytes (negative: no limit) and,
// for an edit of digits only, no character but the digits 0 to 9. A text set by the program stays
// as it is and can still be shortened. QLineEdit changes its text before it asks the validator,
// so the rule keeps the text it last let through (or the program set) to compare with.
class EditRule : public QValidator {
 public:
  EditRule(QLineEdit* edit, bool digits_only, int max_bytes)
      : QValidator(edit), digits_only_(digits_only), max_bytes_(max_bytes), accepted_(edit->text()) {
    connect(edit, &QLineEdit::textChanged, this, [this](const QString& text) { accepted_ = text; });
  }
  bool digits_only() const { return digits_only_; }
  void SetByProgram(const QString& text) { accepted_ = text; }
  State validate(QString& input, int&) const override {
    if (digits_only_ && NonDigits(input) > NonDigits(accepted_)) return Invalid;
    const qsizetype bytes = input.toUtf8().size();
    if (max_bytes_ < 0 || bytes <= max_bytes_ || bytes <= accepted_.toUtf8().size()) return Acceptable;
    return Invalid;
  }

 private:
  bool digits_only_;
  int max_bytes_;
  QString accepted_;
};

}  // namespace

DialogUnits::DialogUnits(const QFont& font) {
  const QFontMetrics metrics(font);
  // Average width as the dialog manager computes it: the 52 letters, rounded.
  const int letters = metrics.horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
  base_x = (letters / 26 + 1) / 2;
  base_y = metrics.height();
}

QFont DialogFont() {
  QFont font("MS Sans Serif");
  font.setPointSize(8);
  font.setStyleHint(QFont::SansSerif);
  return font;
}

void ShowAppletMessage(QWidget* owner, std::string_view text) {
  QWidget* active = QApplication::activeWindow();
  QMessageBox box(QMessageBox::Warning, Q(AppletString(kIdsMessageBoxCaption)), Q(text), QMessageBox::Ok,
                  active != nullptr ? active : owner);
  box.exec();
}

PageWidget::PageWidget(const PageTemplate& page, std::function<void(int)> on_click, QWidget* parent)
    : QWidget(parent), on_click_(std::move(on_click)) {
  setObjectName(QString::number(page.id));
  setFont(DialogFont());
  const DialogUnits du(font());
  setFixedSize(du.X(page.cx), du.Y(page.cy));
  for (size_t i = 0; i < page.controls.size(); ++i) BuildControl(page, i, du);
}

void PageWidget::BuildControl(const PageTemplate& page, size_t index, const DialogUnits& du) {
  const ControlTemplate& c = page.controls[index];
  QRect rect(du.X(c.x), du.Y(c.y), du.X(c.cx), du.Y(c.cy));
  QWidget* widget = nullptr;
  switch (c.kind) {
    case ControlKind::kCheckBox: {
      auto* box = new QCheckBox(Q(c.text), this);
      connect(box, &QCheckBox::clicked, this, [this, id = c.id] { on_click_(id); });
      widget = box;
      break;
    }
    case ControlKind::kRadioButton: {
      auto* radio = new QRadioButton(Q(c.text), this);
      radio->setAutoExclusive(false);  // the group is kept by hand, so the program can set any state
      if (c.group || radio_groups_.isEmpty()) radio_groups_.append(QList<int>());
      radio_groups_.last().append(c.id);
      const int group = static_cast<int>(radio_groups_.size()) - 1;
      connect(radio, &QRadioButton::clicked, this, [this, id = c.id, group] {
        for (int other : radio_groups_[group]) SetChecked(other, other == id);
        on_click_(id);
      });
      widget = radio;
      break;
    }
    case ControlKind::kEdit: {
      auto* edit = new QLineEdit(this);
      edit->setFrame(true);
      if (c.digits_only) edit->setValidator(new EditRule(edit, true, -1));
      widget = edit;
      break;
    }
    case ControlKind::kUpDown: {
      // Attached to the edit before it, at that edit's right edge; the edit gives up the room.
      auto* buddy = qobject_cast<QLineEdit*>(children_.isEmpty() ? nullptr : children_.last());
      auto* updown = new UpDown(buddy, this);
      if (buddy != nullptr) {
        QRect edit = buddy->geometry();
        const int width = std::max(du.X(c.cx), 12);
        buddy->setGeometry(edit.x(), edit.y(), edit.width() - width, edit.height());
        rect = QRect(edit.right() - width + 1, edit.y(), width, edit.height());
      }
      widget = updown;
      break;
    }
    case ControlKind::kLabel: {
      auto* label = new QLabel(Q(c.text), this);
      label->setWordWrap(c.cy > 10);
      label->setAlignment((c.align == TextAlign::kCentre  ? Qt::AlignHCenter
                           : c.align == TextAlign::kRight ? Qt::AlignRight
                                                          : Qt::AlignLeft) |
                          Qt::AlignTop);
      // A mnemonic in a label moves the focus to the next control that takes it.
      for (size_t next = index + 1; next < page.controls.size(); ++next) {
        if (page.controls[next].tab_stop) {
          label->setProperty("buddy_id", page.controls[next].id);
          break;
        }
      }
      widget = label;
      break;
    }
    case ControlKind::kGroupBox: {
      widget = new QGroupBox(Q(c.text), this);
      break;
    }
  }
  widget->setGeometry(rect);
  if (c.id != kIdcStatic) {
    widget->setObjectName(QString::number(c.id));
    controls_.insert(c.id, widget);
  }
  if (c.kind == ControlKind::kGroupBox) widget->lower();  // frames stay behind what they frame
  if (!c.visible) widget->setVisible(false);
  children_.append(widget);
  // Labels before the control they name: link the buddy once that control exists.
  for (QWidget* child : children_) {
    auto* label = qobject_cast<QLabel*>(child);
    if (label != nullptr && label->buddy() == nullptr && label->property("buddy_id").toInt() == c.id &&
        c.id != kIdcStatic) {
      label->setBuddy(widget);
    }
  }
}

QWidget* PageWidget::Control(int id) const { return controls_.value(id, nullptr); }

std::string PageWidget::GetText(int id) {
  QWidget* w = Control(id);
  if (auto* edit = qobject_cast<QLineEdit*>(w)) return edit->text().toStdString();
  if (auto* label = qobject_cast<QLabel*>(w)) return label->text().toStdString();
  if (auto* button = qobject_cast<QAbstractButton*>(w)) return button->text().toStdString();
  return {};
}

void PageWidget::SetText(int id, std::string_view text) {
  QWidget* w = Control(id);
  if (auto* edit = qobject_cast<QLineEdit*>(w)) {
    if (auto* rule = dynamic_cast<EditRule*>(const_cast<QValidator*>(edit->validator()))) rule->SetByProgram(Q(text));
    edit->setText(Q(text));
    edit->setCursorPosition(0);
  } else if (auto* label = qobject_cast<QLabel*>(w)) {
    label->setText(Q(text));
  } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
    button->setText(Q(text));
  }
}

bool PageWidget::IsChecked(int id) {
  auto* button = qobject_cast<QAbstractButton*>(Control(id));
  return button != nullptr && button->isChecked();
}

void PageWidget::SetChecked(int id, bool checked) {
  if (auto* button = qobject_cast<QAbstractButton*>(Control(id))) {
    button->setCheckable(true);
    button->setChecked(checked);
  }
}

bool PageWidget::IsEnabled(int id) {
  QWidget* w = Control(id);
  return w != nullptr && w->isEnabled();
}

void PageWidget::Enable(int id, bool enabled) {
  if (QWidget* w = Control(id)) w->setEnabled(enabled);
}

void PageWidget::EnableAll(bool enabled) {
  for (QWidget* w : children_) w->setEnabled(enabled);
}

void PageWidget::Show(int id, bool visible) {
  if (QWidget* w = Control(id)) w->setVisible(visible);
}

void PageWidget::FocusAndSelectAll(int id) {
  QWidget* w = Control(id);
  if (w == nullptr) return;
  w->setFocus(Qt::OtherFocusReason);
  if (auto* edit = qobject_cast<QLineEdit*>(w)) edit->selectAll();
}

void PageWidget::SetFocus(int id) {
  if (QWidget* w = Control(id)) w->setFocus(Qt::OtherFocusReason);
}

void PageWidget::SetRange(int id, int lower, int upper) {
  if (auto* updown = dynamic_cast<UpDown*>(Control(id))) updown->SetRange(lower, upper);
}

void PageWidget::LimitText(int id, int max_bytes) {
  auto* edit = qobject_cast<QLineEdit*>(Control(id));
  if (edit == nullptr) return;
  const QValidator* old = edit->validator();
  const auto* rule = dynamic_cast<const EditRule*>(old);
  edit->setValidator(new EditRule(edit, rule != nullptr && rule->digits_only(), max_bytes));
  delete old;
}

void PageWidget::Repaint() { update(); }

void PageWidget::ShowWarning(std::string_view text) { ShowAppletMessage(window(), text); }

}  // namespace chron::qt
