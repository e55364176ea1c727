// The pages of the property sheet: Server, Client and Information. Each works on the
// applet's configuration record through its own fields and sees its window only through
// the Dialog interface attached to it before InitPage.
#pragma once

#include <cstdint>
#include <string>

#include "applet/dialog.h"
#include "config/configuration.h"
#include "config/settings.h"

namespace chron {

// Platform identifier as GetVersionExA gives it.
enum class PlatformId : uint32_t { kWin95 = 1, kWinNt = 2 };

class CPropertyPage {
 public:
  virtual ~CPropertyPage() = default;
  virtual const PageTemplate& Template() const = 0;
  void Attach(Dialog* dialog) { dialog_ = dialog; }
  Dialog* dialog() const { return dialog_; }

  // First display of the page in this opening of the sheet. Returns true.
  virtual bool InitPage() = 0;
  // Fields to controls, or controls to fields with validation (false at the first invalid
  // control, whose message has been shown).
  virtual bool ExchangePageData(Exchange direction) = 0;
  // Fields into the configuration record (at OK, only for pages that were shown).
  virtual void ApplyPage() {}
  // A click on button `id` of the page.
  virtual void OnClicked(int /*id*/) {}

 protected:
  Dialog* dialog_ = nullptr;
};

// The longest server name the Client page takes, in bytes of UTF-8 (the settings table's).
inline constexpr int kTimeSourceMaxBytes = static_cast<int>(SettingOf("Client\\TimeSource").max);

class CClientDlg : public CPropertyPage {
 public:
  CClientDlg(Configuration& record, PlatformId platform);
  const PageTemplate& Template() const override { return ClientTemplate(); }
  bool InitPage() override;
  bool ExchangePageData(Exchange direction) override;
  void ApplyPage() override;
  void OnClicked(int id) override;

  void UpdateClientActiveState();
  void UpdateMaxDiffState();
  void UpdateTimeSourceState();

  // Fields, in order.
  uint32_t active;
  uint32_t broadcast;
  uint32_t maxDiffSecond;
  uint32_t maxDiffSecondActive;
  uint32_t pollInterval;
  uint32_t runOnce;
  std::string timeSource;

 private:
  void CopyRecord();
  Configuration& record_;
  PlatformId platform_;
};

class CServerDlg : public CPropertyPage {
 public:
  explicit CServerDlg(Configuration& record);
  const PageTemplate& Template() const override { return ServerTemplate(); }
  bool InitPage() override;
  bool ExchangePageData(Exchange direction) override;
  void ApplyPage() override;
  void OnClicked(int id) override;

  void UpdateServerActiveState();
  void UpdateBroadcastState();

  uint32_t active;
  uint32_t broadcast;
  uint32_t broadcastInterval;
  int32_t timeSourceIndex = -1;  // -1 none, 0 DCF77, 1 NTP, 2 local time

 private:
  void CopyRecord();
  Configuration& record_;
};

// Position in the radio group 1010..1012 for a stored Server\TimeSource, and the spelling
// written for a position.
int32_t TimeSourceIndex(const std::string& stored);
const char* TimeSourceSpelling(int32_t index);

class CInfoDlg : public CPropertyPage {
 public:
  const PageTemplate& Template() const override { return InfoTemplate(); }
  bool InitPage() override;
  bool ExchangePageData(Exchange direction) override;

  std::string version;
};

inline constexpr const char* kInfoVersionText = "v1.01 (980806)";

}  // namespace chron
