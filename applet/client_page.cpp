// The Client page: the seven settings below Client.
#include "applet/exchange.h"
#include "applet/pages.h"
#include "applet/resources.h"

namespace chron {

CClientDlg::CClientDlg(Configuration& record, PlatformId platform) : record_(record), platform_(platform) {
  CopyRecord();
}

void CClientDlg::CopyRecord() {
  active = record_.client_active;
  maxDiffSecond = record_.client_max_diff_second;
  pollInterval = record_.client_poll_interval;
  runOnce = record_.client_run_once;
  timeSource = record_.client_time_source;
  maxDiffSecondActive = record_.client_max_diff_second_active;
  broadcast = record_.client_broadcast;
}

bool CClientDlg::InitPage() {
  Dialog& d = *dialog_;
  ExchangePageData(Exchange::kToControls);
  d.SetRange(kIdcClientPollSpin, kPollIntervalMin, kPollIntervalMax);
  d.SetRange(kIdcClientMaxDiffSpin, kMaxDiffMin, kMaxDiffMax);
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
  Dialog& d = *dialog_;
  if (direction == Exchange::kToControls) {
    WriteCheck(d, kIdcClientActive, active);
    WriteCheck(d, kIdcClientBroadcast, broadcast);
    WriteUnsigned(d, kIdcClientMaxDiff, maxDiffSecond);
    WriteCheck(d, kIdcClientMaxDiffActive, maxDiffSecondActive);
    WriteUnsigned(d, kIdcClientPollInterval, pollInterval);
    WriteCheck(d, kIdcClientRunOnce, runOnce);
    WriteText(d, kIdcClientTimeSource, timeSource, kTimeSourceMaxBytes);
    return true;
  }
  active = ReadCheck(d, kIdcClientActive);
  broadcast = ReadCheck(d, kIdcClientBroadcast);
  if (!ReadUnsigned(d, kIdcClientMaxDiff, kMaxDiffMin, kMaxDiffMax, &maxDiffSecond)) return false;
  maxDiffSecondActive = ReadCheck(d, kIdcClientMaxDiffActive);
  if (!ReadUnsigned(d, kIdcClientPollInterval, kPollIntervalMin, kPollIntervalMax, &pollInterval)) return false;
  runOnce = ReadCheck(d, kIdcClientRunOnce);
  return ReadText(d, kIdcClientTimeSource, kTimeSourceMaxBytes, &timeSource);
}

void CClientDlg::ApplyPage() {
  record_.client_active = active != 0 ? 1 : 0;
  record_.client_max_diff_second = maxDiffSecond;
  record_.client_poll_interval = pollInterval;
  record_.client_run_once = runOnce != 0 ? 1 : 0;
  record_.client_time_source = timeSource;
  record_.client_max_diff_second_active = maxDiffSecondActive != 0 ? 1 : 0;
  record_.client_broadcast = broadcast != 0 ? 1 : 0;
}

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
