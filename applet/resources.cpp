// String table and icon of the configuration applet.
#include "applet/resources.h"

namespace chron {

std::string_view AppletString(int id) {
  switch (id) {
    case kIdsSheetCaption: return "Konfiguration - Simple Network Time Protocol Client/Server";
    case kIdsReadError: return "Beim Lesen der Konfigurationsdaten ist ein Fehler aufgetreten.";
    case kIdsWriteError: return "Beim Schreiben der Konfigurationsdaten ist ein Fehler aufgetreten.";
    case kIdsAppletName: return "SNTP";
    case kIdsAppletInfo: return "Konfiguration für Simple Network Time Protcol.";
    case kIdsMessageBoxCaption: return "Konfiguration - SNTP";
    default: return {};
  }
}

namespace {
// A clock face in the 16-colour palette (white, navy, black, maroon).
#include "applet/chroncfg.xpm"
}  // namespace

const char* const* AppletIconXpm() { return chroncfg_xpm; }

}  // namespace chron
