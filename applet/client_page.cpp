// The Client page: the seven settings below Client.
#include <array>

#include "applet/page_fields.h"
#include "applet/pages.h"
#include "applet/resources.h"

namespace chron {
namespace {

using Field = PageField<CClientDlg>;

// In the order of reading.
const std::array<Field, 7> kFields = {{
    {kIdcClientActive, 0, &CClientDlg::active, nullptr, SettingOf("Client\\Active")},
    {kIdcClientBroadcast, 0, &CClientDlg::broadcast, nullptr, SettingOf("Client\\Broadcast")},
    {kIdcClientMaxDiff, kIdcClientMaxDiffSpin, &CClientDlg::maxDiffSecond, nullptr, SettingOf("Client\\MaxDiffSecond")},
    {kIdcClientMaxDiffActive, 0, &CClientDlg::maxDiffSecondActive, nullptr, SettingOf("Client\\MaxDiffSecondActive")},
    {kIdcClientPollInterval, kIdcClientPollSpin, &CClientDlg::pollInterval, nullptr, SettingOf("Client\\PollInterval")},
    {kIdcClientRunOnce, 0, &CClientDlg::runOnce, nullptr, SettingOf("Client\\RunOnce")},
    {kIdcClientTimeSource, 0, nullptr, &CClientDlg::timeSource, SettingOf("Client\\TimeSource")},
}};

}  // namespace

CClientDlg::CClientDlg(Configuration& record, PlatformId platform) : record_(record), platform_(platform) {
  CopyRecord();
}

void CClientDlg::CopyRecord() { LoadFields(*this, kFields, record_); }

bool CClientDlg::InitPage() {
  Dialog& d = *dialog_;
  ExchangePageData(Exchange::kToControls);
  SetFieldRanges<CClientDlg>(d, kFields);
  CopyRecord();
  ExchangePageData(Exchange::kToControls);
  d.SetChecked(kIdcClientBroadcast, broadcast != 0);
  d.SetChecked(kIdcClientPoll, broadcast == 0);
  UpdateTimeSourceState();
  UpdateClientActiveState();
  // The activation box is hidden on Windows 95, except when the stored value switches the
  // client off: then it is the only way out of a page whose every other control is disabled.
  if (platform_ == PlatformId::kWin95 && record_.client_active != 0) d.Show(kIdcClientActive, false);
  return true;
}

bool CClientDlg::ExchangePageData(Exchange direction) {
  if (direction == Exchange::kFromControls) return ReadFields(*dialog_, *this, kFields);
  WriteFields(*dialog_, *this, kFields);
  return true;
}

void CClientDlg::ApplyPage() { ApplyFields(*this, kFields, record_); }

void CClientDlg::OnClicked(int id) {
  switch (id) {
    case kIdcClientActive: UpdateClientActiveState(); break;
    case kIdcClientMaxDiffActive: UpdateMaxDiffState(); break;
    case kIdcClientPoll:
    case kIdcClientBroadcast: UpdateTimeSourceState(); break;
    default: break;
  }
}

void CClientDlg::UpdateClientActiveState() {
  Dialog& d = *dialog_;
  ExchangePageData(Exchange::kFromControls);  // goes on whatever the outcome; active is read first
  d.EnableAll(active != 0);
  d.Enable(kIdcClientActive, true);
  if (active != 0) {
    UpdateMaxDiffState();
    UpdateTimeSourceState();
  }
  d.SetFocus(kIdcClientActive);
  d.Repaint();
}

void CClientDlg::UpdateMaxDiffState() {
  Dialog& d = *dialog_;
  d.Enable(kIdcClientMaxDiff, d.IsChecked(kIdcClientMaxDiffActive));
  d.Repaint();
}

void CClientDlg::UpdateTimeSourceState() {
  Dialog& d = *dialog_;
  const bool poll = d.IsChecked(kIdcClientPoll);
  d.Enable(kIdcClientTimeSource, poll);
  d.Enable(kIdcClientPollLabel, poll);
  d.Enable(kIdcClientPollInterval, poll);
  d.Repaint();
}

}  // namespace chron
