// The sheet's window in Qt Widgets: a modal dialog with one tab per page, OK and Cancel.
#pragma once

#include <memory>

#include "applet/panel.h"

namespace chron::qt {

// Makes sure a QApplication exists (the host may have none) and returns the window factory.
SheetWindowFactory QtSheetWindowFactory();

}  // namespace chron::qt
