// <windows.h> and the common controls for the applet's window layer.
#pragma once

#include "platform/win32/win32.h"
// (after it)
#include <commctrl.h>
