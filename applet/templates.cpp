// Dialog templates 103 (Client), 104 (Server) and 130 (Information).
#include "applet/dialog.h"
#include "applet/resources.h"
#include "platform/file.h"

namespace chron {
namespace {

using K = ControlKind;
constexpr int S = kIdcStatic;
constexpr std::string_view kFont = "MS Sans Serif";

}  // namespace

const PageTemplate& ClientTemplate() {
  static const PageTemplate t{
      kIddClient,
      "Client",
      237,
      157,
      kFont,
      {
          {1013, K::kCheckBox, "SNTP &Client aktivieren", 7, 7, 223, 10, false, true},
          {1003, K::kRadioButton, "SNTP &Server (Name oder IP Nummer):", 13, 33, 173, 10, true},
          {1009, K::kEdit, "", 21, 46, 203, 14, false, true},
          {1005, K::kLabel, "&Pollinterval in Sekunden:", 22, 67, 146, 8},
          {1011, K::kEdit, "", 184, 64, 40, 14, false, true, true, TextAlign::kLeft, false, true},
          {1012, K::kUpDown, "", 222, 56, 8, 14},
          {1004, K::kRadioButton, "SNTP &Broadcasts akzeptieren.", 13, 80, 170, 10},
          {1023, K::kCheckBox, "Max. &Abweichung zur Systemzeit in Sekunden:", 7, 120, 184, 10, false, true},
          {1016, K::kEdit, "", 201, 118, 29, 14, false, true, true, TextAlign::kLeft, false, true},
          {1020, K::kUpDown, "", 195, 118, 8, 14},
          {1008, K::kCheckBox, "nach erfolgreicher Synchronisation be&enden.", 7, 140, 223, 10, false, true, true,
           TextAlign::kLeft, true},
          {S, K::kGroupBox, "Zeitquelle", 7, 22, 223, 72},
          {1024, K::kLabel,
           "Die Systemzeit wird nur synchronisiert, wenn die angebene maximale Abweichung zur "
           "Systemzeit kleiner ist als angegeben.",
           7, 98, 223, 19, true},
      }};
  return t;
}

const PageTemplate& ServerTemplate() {
  static const PageTemplate t{kIddServer,
                              "Server",
                              237,
                              157,
                              kFont,
                              {
                                  {1007, K::kCheckBox, "SNTP &Server aktivieren", 7, 7, 223, 10, false, true},
                                  {1010, K::kRadioButton, "&DCF77 Funkuhr", 116, 15, 105, 10, true, false, false},
                                  {1011, K::kRadioButton, "(S)&NTP Server (wie bei Client angegeben)", 13, 35, 210, 10},
                                  {1012, K::kRadioButton, "&Lokale Systemzeit", 13, 46, 210, 10},
                                  {1000, K::kCheckBox, "&versenden", 15, 81, 131, 10, false, true},
                                  {S, K::kLabel, "SNTP Broadcast&interval in Sekunden:", 24, 97, 141, 8, true},
                                  {1001, K::kEdit, "", 184, 94, 40, 14, false, true},
                                  {1002, K::kUpDown, "", 176, 94, 8, 14},
                                  {S, K::kGroupBox, "Zeitquelle", 7, 23, 223, 38},
                                  {S, K::kGroupBox, "SNTP Broadcasts", 7, 68, 223, 44},
                              }};
  return t;
}

// The notice lines and the project's facts (name, licence, documentation, build) are this product's own;
// the documentation line names the folder where the package installed the documents.
const PageTemplate& InfoTemplate() {
  constexpr TextAlign C = TextAlign::kCentre, L = TextAlign::kLeft, R = TextAlign::kRight;
  static const PageTemplate t{
      kIddInfo,
      "Information",
      237,
      157,
      kFont,
      {
          {S, K::kLabel, "SNTP v4 Client/Server Dienst", 7, 7, 223, 8, false, false, true, C},
          {S, K::kLabel, "Zeitabgleich nach RFC 2030 für lokale Netze.", 7, 20, 223, 8, false, false, true, C},
          {1001, K::kLabel, "Freie Software, ohne jede Gewährleistung.", 7, 34, 223, 8, false, false, true, C},
          {1000, K::kLabel, "Version", 7, 49, 223, 8, false, false, true, C},
          {S, K::kLabel, "Projekt:", 7, 111, 112, 8, false, false, true, L},
          {S, K::kLabel, "Lizenz:", 7, 121, 112, 8, false, false, true, L},
          {S, K::kLabel, "Dokumentation:", 7, 131, 112, 8, false, false, true, L},
          {S, K::kLabel, "Build:", 7, 142, 112, 8, false, false, true, L},
          {S, K::kLabel, "chron", 119, 111, 111, 8, false, false, true, R},
          {S, K::kLabel, "Apache License 2.0", 119, 121, 111, 8, false, false, true, R},
          {S, K::kLabel, platform::InstalledDocumentsFolder(), 119, 131, 111, 8, false, false, true, R},
          {S, K::kLabel, "CMake, scripts/build.sh", 118, 142, 112, 8, false, false, true, R},
      }};
  return t;
}

}  // namespace chron
