// Resources of the configuration applet: control identifiers, the string table, the icon
// and the version information. Texts are UTF-8.
#pragma once

#include <cstdint>
#include <string_view>

namespace chron {

// String table.
inline constexpr int kIdsSheetCaption = 102;
inline constexpr int kIdsReadError = 108;
inline constexpr int kIdsWriteError = 109;
inline constexpr int kIdsAppletName = 110;
inline constexpr int kIdsAppletInfo = 111;
inline constexpr int kIdsMessageBoxCaption = 57344;

// Text of string `id`; empty for an unknown identifier.
std::string_view AppletString(int id);

// Icon 129: the Control Panel icon, 32 by 32 pixels in 16 colours, as XPM lines.
inline constexpr int kIdiApplet = 129;
const char* const* AppletIconXpm();

// Version information of chroncfg.
inline constexpr std::string_view kFileVersion = "1.1.0.0";
inline constexpr std::string_view kProductVersion = "1.01";
inline constexpr std::string_view kFileDescription = "Konfiguration für SNTP Dienst";
inline constexpr uint16_t kVersionLanguage = 0x0407;  // German (Germany)

// Dialog templates (the pages).
inline constexpr int kIddClient = 103;
inline constexpr int kIddServer = 104;
inline constexpr int kIddInfo = 130;

// Buttons of the property sheet.
inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;

// Controls of the Client page (template 103).
inline constexpr int kIdcClientActive = 1013;
inline constexpr int kIdcClientPoll = 1003;  // radio: poll a named server
inline constexpr int kIdcClientTimeSource = 1009;
inline constexpr int kIdcClientPollLabel = 1005;
inline constexpr int kIdcClientPollInterval = 1011;
inline constexpr int kIdcClientPollSpin = 1012;
inline constexpr int kIdcClientBroadcast = 1004;  // radio: accept broadcasts
inline constexpr int kIdcClientMaxDiffActive = 1023;
inline constexpr int kIdcClientMaxDiff = 1016;
inline constexpr int kIdcClientMaxDiffSpin = 1020;
inline constexpr int kIdcClientRunOnce = 1008;
inline constexpr int kIdcClientExplanation = 1024;

// Controls of the Server page (template 104).
inline constexpr int kIdcServerActive = 1007;
inline constexpr int kIdcServerDcf77 = 1010;
inline constexpr int kIdcServerNtp = 1011;
inline constexpr int kIdcServerLocal = 1012;
inline constexpr int kIdcServerBroadcast = 1000;
inline constexpr int kIdcServerInterval = 1001;
inline constexpr int kIdcServerIntervalSpin = 1002;

// Controls of the Information page (template 130).
inline constexpr int kIdcInfoNotice2 = 1001;
inline constexpr int kIdcInfoVersion = 1000;

// Controls without an identifier (labels, group boxes).
inline constexpr int kIdcStatic = -1;

}  // namespace chron
