// The Information page: title, version and the notice lines.
#include "applet/pages.h"
#include "applet/resources.h"

namespace chron {

bool CInfoDlg::InitPage() {
  ExchangePageData(Exchange::kToControls);
  version = kInfoVersionText;
  ExchangePageData(Exchange::kToControls);
  return true;
}

bool CInfoDlg::ExchangePageData(Exchange direction) {
  if (direction == Exchange::kToControls) {
    dialog_->SetText(kIdcInfoVersion, version);
  } else {
    version = dialog_->GetText(kIdcInfoVersion);
  }
  return true;
}

}  // namespace chron
