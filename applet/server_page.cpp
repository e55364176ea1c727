// The Server page: the four settings below Server.
#include <strings.h>

#include "applet/exchange.h"
#include "applet/pages.h"
#include "applet/resources.h"

namespace chron {
namespace {

constexpr int kRadioGroup[] = {kIdcServerDcf77, kIdcServerNtp, kIdcServerLocal};  // by position

bool EqualsIgnoringCase(const std::string& a, const char* b) { return strcasecmp(a.c_str(), b) == 0; }

}  // namespace

int32_t TimeSourceIndex(const std::string& stored) {
  if (EqualsIgnoringCase(stored, "DCF77")) return 0;
  if (EqualsIgnoringCase(stored, "NTP")) return 1;
  return 2;
}

const char* TimeSourceSpelling(int32_t index) {
  switch (index) {
    case 0: return "DCF77";
    case 1: return "NTP";
    default: return "LOCAL";
  }
}

CServerDlg::CServerDlg(Configuration& record) : record_(record) { CopyRecord(); }

void CServerDlg::CopyRecord() {
  active = record_.server_active;
  broadcast = record_.server_broadcast;
  broadcastInterval = record_.server_broadcast_interval;
}

bool CServerDlg::InitPage() {
  Dialog& d = *dialog_;
  ExchangePageData(Exchange::kToControls);
  d.SetRange(kIdcServerIntervalSpin, kBroadcastIntervalMin, kBroadcastIntervalMax);
  CopyRecord();
  ExchangePageData(Exchange::kToControls);  // timeSourceIndex is still -1: no button ticked
  const int32_t chosen = TimeSourceIndex(record_.server_time_source);
  for (int32_t pos = 0; pos < 3; ++pos) d.SetChecked(kRadioGroup[pos], pos == chosen);
  UpdateServerActiveState();
  return true;
}

bool CServerDlg::ExchangePageData(Exchange direction) {
  Dialog& d = *dialog_;
  if (direction == Exchange::kToControls) {
    WriteCheck(d, kIdcServerActive, active);
    WriteCheck(d, kIdcServerBroadcast, broadcast);
    WriteUnsigned(d, kIdcServerInterval, broadcastInterval);
    for (int32_t pos = 0; pos < 3; ++pos) d.SetChecked(kRadioGroup[pos], pos == timeSourceIndex);
    return true;
  }
  active = ReadCheck(d, kIdcServerActive);
  broadcast = ReadCheck(d, kIdcServerBroadcast);
  if (!ReadUnsigned(d, kIdcServerInterval, kBroadcastIntervalMin, kBroadcastIntervalMax, &broadcastInterval)) {
    return false;
  }
  timeSourceIndex = -1;
  for (int32_t pos = 0; pos < 3; ++pos) {
    if (d.IsChecked(kRadioGroup[pos])) timeSourceIndex = pos;  // the last ticked one wins
  }
  return true;
}

void CServerDlg::ApplyPage() {
  record_.server_active = active != 0 ? 1 : 0;
  record_.server_broadcast = broadcast != 0 ? 1 : 0;
  record_.server_broadcast_interval = broadcastInterval;
  record_.server_time_source = TimeSourceSpelling(timeSourceIndex);
}

void CServerDlg::OnClicked(int id) {
  if (id == kIdcServerActive) UpdateServerActiveState();
  if (id == kIdcServerBroadcast) UpdateBroadcastState();
}

void CServerDlg::UpdateServerActiveState() {
  Dialog& d = *dialog_;
  ExchangePageData(Exchange::kFromControls);  // goes on whatever the outcome; active is read first
  d.EnableAll(active != 0);
  d.Enable(kIdcServerActive, true);
  if (active != 0) UpdateBroadcastState();
  d.Repaint();
}

void CServerDlg::UpdateBroadcastState() {
  Dialog& d = *dialog_;
  d.Enable(kIdcServerInterval, d.IsChecked(kIdcServerBroadcast));
  d.Repaint();
}

}  // namespace chron
