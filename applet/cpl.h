// The Control Panel applet protocol: messages of CPlApplet and the records it fills. Shared
// by the applet library and the host program that plays the Control Panel.
#pragma once

#include <cstdint>

namespace chron {

inline constexpr uint32_t CPL_INIT = 1;
inline constexpr uint32_t CPL_GETCOUNT = 2;
inline constexpr uint32_t CPL_INQUIRE = 3;
inline constexpr uint32_t CPL_SELECT = 4;
inline constexpr uint32_t CPL_DBLCLK = 5;
inline constexpr uint32_t CPL_STOP = 6;
inline constexpr uint32_t CPL_EXIT = 7;
inline constexpr uint32_t CPL_NEWINQUIRE = 8;
// Start with parameters (ANSI, wide): the Control Panel sends it before CPL_DBLCLK and opens
// the applet with CPL_DBLCLK only when the answer is 0.
inline constexpr uint32_t CPL_STARTWPARMSA = 9;
inline constexpr uint32_t CPL_STARTWPARMSW = 10;

// Resource identifiers of one applet (CPL_INQUIRE).
struct CPLINFO {
  int32_t idIcon;
  int32_t idName;
  int32_t idInfo;
  intptr_t lData;
};

// Texts of one applet (CPL_NEWINQUIRE).
struct NEWCPLINFO {
  uint32_t dwSize;
  uint32_t dwFlags;
  uint32_t dwHelpContext;
  intptr_t lData;
  void* hIcon;
  char szName[32];
  char szInfo[64];
  char szHelpFile[128];
};

// extern "C" int32_t CPlApplet(void* hwndCPl, uint32_t uMsg, intptr_t lParam1, intptr_t lParam2)
using CplAppletProc = int32_t (*)(void* window, uint32_t message, intptr_t param1, intptr_t param2);
inline constexpr const char* kCplAppletExport = "CPlApplet";

}  // namespace chron
