// chroncpl: plays the Control Panel for the applet chroncfg. It loads the library, sends
// CPL_INIT, CPL_GETCOUNT and CPL_INQUIRE, opens the applet with CPL_DBLCLK (the call returns
// when the sheet has closed), then sends CPL_STOP and CPL_EXIT and unloads the library.
//
//   chroncpl [--win95] [--list] [--library PATH]
//
// --win95 shows the Windows 95 layout (no Server page); --list only prints the applets.
#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "applet/cpl.h"

namespace {

std::string ExecutableDir() {
  char path[4096];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof(path) - 1);
  if (n <= 0) return ".";
  path[n] = '\0';
  std::string dir(path);
  return dir.substr(0, dir.find_last_of('/'));
}

std::string FindApplet() {
  const std::string dir = ExecutableDir();
  for (const std::string& candidate :
       {dir + "/libchroncfg.so", dir + "/" CHRON_APPLET_RELATIVE_DIR "/libchroncfg.so"}) {
    if (access(candidate.c_str(), R_OK) == 0) return candidate;
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

  void* module = dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (module == nullptr) {
    std::fprintf(stderr, "chroncpl: %s\n", dlerror());
    return 1;
  }
  auto applet = reinterpret_cast<CplAppletProc>(dlsym(module, kCplAppletExport));
  if (applet == nullptr) {
    std::fprintf(stderr, "chroncpl: %s exportiert kein %s\n", library.c_str(), kCplAppletExport);
    dlclose(module);
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
        std::printf("%d: Symbol %d, Name %d, Beschreibung %d, Daten %ld\n", i, info.idIcon, info.idName,
                    info.idInfo, static_cast<long>(info.lData));
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
  dlclose(module);
  return status;
}
