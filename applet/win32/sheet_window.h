// The Win32 window layer of the sheet: a modal comctl32 property sheet whose pages are made
// from the dialog templates in the module's resources.
#pragma once

#include "applet/panel.h"

namespace chron::win32_window {

SheetWindowFactory Win32SheetWindowFactory();

}  // namespace chron::win32_window
