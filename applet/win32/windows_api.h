// <windows.h> and the common controls for the applet's window layer, without the macros that would rename the
// applet's own LoadString and MessageBox to their ANSI or wide API names.
#pragma once

#include "platform/win32/win32.h"
// (after it)
#include <commctrl.h>

#undef LoadString
#undef MessageBox
