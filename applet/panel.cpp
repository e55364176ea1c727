// The property sheet CSntpPanel.
#include "applet/panel.h"

#include "applet/resources.h"

namespace chron {

CSntpPanel::CSntpPanel(Configuration& record, SheetContext context)
    : record_(record), context_(std::move(context)), server_(record), client_(record, context_.platform), info_() {
  if (context_.platform == PlatformId::kWinNt) pages_.push_back(&server_);
  pages_.push_back(&client_);
  pages_.push_back(&info_);
  shown_.assign(pages_.size(), false);
}

CSntpPanel::~CSntpPanel() = default;

std::string_view CSntpPanel::caption() const { return AppletString(kIdsSheetCaption); }

int CSntpPanel::RunSheet() {
  std::unique_ptr<SheetWindow> window = context_.window_factory(*this);
  window_ = window.get();
  const int result = window->RunModal();
  OnDestroy();
  if (result == 1 && !WriteConfiguration()) window->ShowWarning(AppletString(kIdsWriteError));
  window_ = nullptr;
  return result;
}

void CSntpPanel::InitSheet() {
  timer_id_ = window_->StartTimer(kWatchTimerId, kWatchPeriodMs);
  if (!ReadConfiguration()) window_->ShowWarning(AppletString(kIdsReadError));
  ActivatePage(0);
}

bool CSntpPanel::LeavePage() { return pages_[current_]->ExchangePageData(Exchange::kFromControls); }

void CSntpPanel::ActivatePage(size_t index) {
  current_ = index;
  if (!shown_[index]) {
    shown_[index] = true;
    pages_[index]->InitPage();
  }
}

bool CSntpPanel::OnOk() {
  if (!LeavePage()) return false;
  for (size_t i = 0; i < pages_.size(); ++i) {
    if (shown_[i]) pages_[i]->ApplyPage();
  }
  return true;
}

void CSntpPanel::WatchShutdownEvent() {
  if (context_.shutdown_signalled && context_.shutdown_signalled()) window_->PostQuit();
}

void CSntpPanel::OnDestroy() {
  if (timer_id_ != 0 && window_ != nullptr) window_->KillTimer(timer_id_);
  timer_id_ = 0;
}

bool CSntpPanel::ReadConfiguration() {
  if (context_.registry == nullptr) {
    record_ = Configuration{};
    return false;
  }
  return chron::ReadConfiguration(*context_.registry, &record_);
}

bool CSntpPanel::WriteConfiguration() {
  return context_.registry != nullptr && chron::WriteConfiguration(*context_.registry, record_);
}

}  // namespace chron
