// The Server page: the four settings below Server.
#include <array>

#include "applet/exchange.h"
#include "applet/page_fields.h"
#include "applet/pages.h"
#include "applet/resources.h"
#include "platform/ascii_case.h"

namespace chron {
namespace {

constexpr int kRadioGroup[] = {kIdcServerDcf77, kIdcServerNtp, kIdcServerLocal};  // by position

using Field = PageField<CServerDlg>;

// In the order of reading; the radio group of the time source follows them.
const std::array<Field, 3> kFields = {{
    {kIdcServerActive, 0, &CServerDlg::active, nullptr, SettingOf("Server\\Active")},
    {kIdcServerBroadcast, 0, &CServerDlg::broadcast, nullptr, SettingOf("Server\\Broadcast")},
    {kIdcServerInterval, kIdcServerIntervalSpin, &CServerDlg::broadcastInterval, nullptr,
     SettingOf("Server\\BroadcastInterval")},
}};

}  // namespace

int32_t TimeSourceIndex(const std::string& stored) {
  if (platform::EqualsIgnoringCase(stored, "DCF77")) return 0;
  if (platform::EqualsIgnoringCase(stored, "NTP")) return 1;
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

void CServerDlg::CopyRecord() { LoadFields(*this, kFields, record_); }

bool CServerDlg::InitPage() {
  Dialog& d = *dialog_;
  ExchangePageData(Exchange::kToControls);
  SetFieldRanges<CServerDlg>(d, kFields);
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
    WriteFields(d, *this, kFields);
    for (int32_t pos = 0; pos < 3; ++pos) d.SetChecked(kRadioGroup[pos], pos == timeSourceIndex);
    return true;
  }
  if (!ReadFields(d, *this, kFields)) return false;
  timeSourceIndex = -1;
  for (int32_t pos = 0; pos < 3; ++pos) {
    if (d.IsChecked(kRadioGroup[pos])) timeSourceIndex = pos;  // the last ticked one wins
  }
  return true;
}

void CServerDlg::ApplyPage() {
  ApplyFields(*this, kFields, record_);
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
