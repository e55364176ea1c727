// Sheet window of the window layer.
#include "applet/qt/sheet_window.h"

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFrame>
#include <QIcon>
#include <QPixmap>
#include <QPointer>
#include <QPushButton>
#include <QShortcut>
#include <QStackedWidget>
#include <QTabBar>
#include <QTimer>
#include <QVBoxLayout>

#include "applet/qt/page_widget.h"
#include "applet/resources.h"

namespace chron::qt {
namespace {

class QtSheetWindow : public SheetWindow {
 public:
  explicit QtSheetWindow(CSntpPanel& panel) : panel_(panel) {}

  int RunModal() override {
    QDialog dialog;
    dialog_ = &dialog;
    dialog.setObjectName("CSntpPanel");
    dialog.setWindowTitle(QString::fromUtf8(panel_.caption().data(), static_cast<qsizetype>(panel_.caption().size())));
    dialog.setModal(true);
    dialog.setWindowIcon(QIcon(QPixmap(AppletIconXpm())));
    auto* layout = new QVBoxLayout(&dialog);
    tabs_ = new QTabBar(&dialog);
    tabs_->setObjectName("tabs");
    tabs_->setDrawBase(false);
    stack_ = new QStackedWidget(&dialog);
    stack_->setFrameShape(QFrame::StyledPanel);
    for (CPropertyPage* page : panel_.pages()) {
      auto* widget = new PageWidget(
          page->Template(), [page](int id) { page->OnClicked(id); }, stack_);
      page->Attach(widget);
      stack_->addWidget(widget);
      const std::string_view caption = page->Template().caption;
      tabs_->addTab(QString::fromUtf8(caption.data(), static_cast<qsizetype>(caption.size())));
    }
    layout->addWidget(tabs_);
    layout->addWidget(stack_);
    auto* buttons = new QDialogButtonBox(&dialog);
    QPushButton* ok = buttons->addButton("OK", QDialogButtonBox::AcceptRole);
    ok->setObjectName(QString::number(kIdOk));
    ok->setDefault(true);
    QPushButton* cancel = buttons->addButton("Abbrechen", QDialogButtonBox::RejectRole);
    cancel->setObjectName(QString::number(kIdCancel));
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    QObject::connect(tabs_, &QTabBar::currentChanged, &dialog, [this](int index) { OnTabChanged(index); });
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, [this] {
      if (panel_.OnOk()) dialog_->accept();
    });
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    auto* next = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Tab), &dialog);
    QObject::connect(next, &QShortcut::activated, &dialog,
                     [this] { tabs_->setCurrentIndex((tabs_->currentIndex() + 1) % tabs_->count()); });
    auto* previous = new QShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Backtab), &dialog);
    QObject::connect(previous, &QShortcut::activated, &dialog,
                     [this] { tabs_->setCurrentIndex((tabs_->currentIndex() + tabs_->count() - 1) % tabs_->count()); });

    QWidget* owner = QApplication::activeWindow();
    if (owner != nullptr) dialog.setParent(owner, dialog.windowFlags());
    panel_.InitSheet();
    const int result = quit_ ? QDialog::Rejected : dialog.exec();
    dialog.hide();
    if (timer_ != nullptr) timer_->stop();
    timer_ = nullptr;
    dialog_ = nullptr;
    return quit_ ? 0 : (result == QDialog::Accepted ? 1 : 0);
  }

  uint32_t StartTimer(uint32_t id, uint32_t period_ms) override {
    if (dialog_ == nullptr) return 0;
    timer_ = new QTimer(dialog_);
    timer_->setInterval(static_cast<int>(period_ms));
    QObject::connect(timer_, &QTimer::timeout, dialog_, [this] { panel_.WatchShutdownEvent(); });
    timer_->start();
    return id;
  }

  void KillTimer(uint32_t) override {
    if (timer_ != nullptr) timer_->stop();
  }

  void PostQuit() override {
    if (quit_ || dialog_ == nullptr) return;
    quit_ = true;
    // Close whatever modal window runs above the sheet (a message box), then the sheet.
    while (QWidget* modal = QApplication::activeModalWidget()) {
      if (modal == dialog_) break;
      auto* inner = qobject_cast<QDialog*>(modal);
      if (inner != nullptr) inner->reject();
      else modal->close();
      if (QApplication::activeModalWidget() == modal) break;
    }
    dialog_->done(QDialog::Rejected);
    // The host's own event loop ends too, once control is back in it.
    QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
  }

  void ShowWarning(std::string_view text) override { ShowAppletMessage(dialog_, text); }

 private:
  void OnTabChanged(int index) {
    if (static_cast<size_t>(index) == panel_.current()) return;
    if (!panel_.LeavePage()) {
      const QSignalBlocker block(tabs_);
      tabs_->setCurrentIndex(static_cast<int>(panel_.current()));
      return;
    }
    stack_->setCurrentIndex(index);
    panel_.ActivatePage(static_cast<size_t>(index));
  }

  CSntpPanel& panel_;
  QDialog* dialog_ = nullptr;
  QTabBar* tabs_ = nullptr;
  QStackedWidget* stack_ = nullptr;
  QPointer<QTimer> timer_;
  bool quit_ = false;
};

}  // namespace

SheetWindowFactory QtSheetWindowFactory() {
  return [](CSntpPanel& panel) -> std::unique_ptr<SheetWindow> { return std::make_unique<QtSheetWindow>(panel); };
}

}  // namespace chron::qt
