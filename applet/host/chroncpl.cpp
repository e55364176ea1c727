// chroncpl: plays the Control Panel for the applet chroncfg. It loads the library, sends
// CPL_INIT, CPL_GETCOUNT and CPL_INQUIRE, opens the applet with CPL_DBLCLK (the call returns
// when the sheet has closed), then sends CPL_STOP and CPL_EXIT and unloads the library.
//
//   chroncpl [--win95] [--list] [--library PATH]
//
// --win95 shows the Windows 95 layout (no Server page); --list only prints the applets.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "applet/cpl.h"
#include "platform/shared_library.h"

namespace {

std::string FindApplet() {
  const std::string dir = chron::platform::ExecutableDirectory();
  for (const std::string& candidate :
       {dir + "/libchroncfg.so", dir + "/" CHRON_APPLET_RELATIVE_DIR "/libchroncfg.so"}) {
    if (chron::platform::FileIsReadable(candidate)) return candidate;
  }
  return "libchroncfg.so";
}

int Usage() {
  std::fprintf(stderr, "Aufruf: chroncpl [--win95] [--list] [--library DATEI]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace chron;
  std::string library;
  bool list_only = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--win95") == 0) {
      setenv("CHRON_APPLET_PLATFORM", "win95", 1);
    } else if (std::strcmp(argv[i], "--list") == 0) {
      list_only = true;
    } else if (std::strcmp(argv[i], "--library") == 0 && i + 1 < argc) {
      library = argv[++i];
    } else {
      return Usage();
    }
  }
  if (library.empty()) library = FindApplet();

  std::unique_ptr<platform::SharedLibrary> module;
  std::string error;
  if (platform::SharedLibrary::Load(library, &module, &error)) {
    std::fprintf(stderr, "chroncpl: %s\n", error.c_str());
    return 1;
  }
  auto applet = reinterpret_cast<CplAppletProc>(module->Symbol(kCplAppletExport));
  if (applet == nullptr) {
    std::fprintf(stderr, "chroncpl: %s exportiert kein %s\n", library.c_str(), kCplAppletExport);
    return 1;
  }
  int status = 0;
  if (applet(nullptr, CPL_INIT, 0, 0) == 0) {
    std::fprintf(stderr, "chroncpl: das Applet hat CPL_INIT abgelehnt\n");
    status = 1;
  } else {
    const int32_t count = applet(nullptr, CPL_GETCOUNT, 0, 0);
    for (int32_t i = 0; i < count; ++i) {
      CPLINFO info{};
      applet(nullptr, CPL_INQUIRE, i, reinterpret_cast<intptr_t>(&info));
      if (list_only) {
        std::printf("%d: Symbol %d, Name %d, Beschreibung %d, Daten %ld\n", i, info.idIcon, info.idName, info.idInfo,
                    static_cast<long>(info.lData));
      }
    }
    if (!list_only && count > 0) {
      CPLINFO info{};
      applet(nullptr, CPL_INQUIRE, 0, reinterpret_cast<intptr_t>(&info));
      applet(nullptr, CPL_DBLCLK, 0, info.lData);
    }
    for (int32_t i = 0; i < count; ++i) applet(nullptr, CPL_STOP, i, 0);
    applet(nullptr, CPL_EXIT, 0, 0);
  }
  return status;
}
