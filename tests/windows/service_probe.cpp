// A service controller and Event Viewer for the Windows scenario tests (Wine's sc has neither
// interrogate nor user-defined controls, and Wine keeps no event log):
//   service_probe control <service> <code>   ControlService with that code (4 = interrogate);
//                                            prints the status it returns, or error=<code>
//   service_probe event-texts <file>         formats events as the Event Viewer does: each line
//                                            "<event id hex> <insertion string as UTF-8 hex>"
//                                            becomes one line of the text in UTF-8 hex, from the
//                                            message file registered for the source SNTP
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace {

std::string Hex(const std::string& bytes) {
  std::string out;
  char digits[3];
  for (unsigned char c : bytes) {
    std::snprintf(digits, sizeof digits, "%02x", c);
    out += digits;
  }
  return out;
}

std::string Unhex(const std::string& hex) {
  std::string out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  return out;
}

std::wstring Wide(const std::string& utf8) {
  std::wstring out(utf8.size() + 1, L'\0');
  out.resize(MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(),
                                 static_cast<int>(out.size())));
  return out;
}

std::string Utf8(const wchar_t* text, DWORD length) {
  std::string out(length * 4 + 1, '\0');
  out.resize(WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), out.data(), static_cast<int>(out.size()),
                                 nullptr, nullptr));
  return out;
}

int Control(const char* name, DWORD code) {
  SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
  SC_HANDLE service = manager == nullptr
                          ? nullptr
                          : OpenServiceW(manager, Wide(name).c_str(),
                                         SERVICE_INTERROGATE | SERVICE_USER_DEFINED_CONTROL | SERVICE_QUERY_STATUS);
  SERVICE_STATUS status{};
  if (service == nullptr || !ControlService(service, code, &status)) {
    std::printf("error=%lu\n", GetLastError());
    return 1;
  }
  std::printf("state=%lu exit=%lu specific=%lu checkpoint=%lu hint=%lu\n", status.dwCurrentState,
              status.dwWin32ExitCode, status.dwServiceSpecificExitCode, status.dwCheckPoint, status.dwWaitHint);
  return 0;
}

int EventTexts(const char* path) {
  wchar_t file[MAX_PATH] = {};
  DWORD size = sizeof file;
  LSTATUS status = RegGetValueW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\SNTP",
                                L"EventMessageFile", RRF_RT_REG_SZ, nullptr, file, &size);  // expanded
  if (status != ERROR_SUCCESS) {
    std::printf("error=%ld (EventMessageFile)\n", status);
    return 1;
  }
  HMODULE module = LoadLibraryExW(file, nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (module == nullptr) {
    std::printf("error=%lu (LoadLibraryEx)\n", GetLastError());
    return 1;
  }
  std::ifstream input(path);
  std::string line;
  while (std::getline(input, line)) {
    std::istringstream fields(line);
    std::string id, text;
    fields >> id >> text;
    const std::wstring insertion = Wide(Unhex(text));
    DWORD_PTR arguments[1] = {reinterpret_cast<DWORD_PTR>(insertion.c_str())};
    wchar_t* buffer = nullptr;
    const DWORD length =
        FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_ARGUMENT_ARRAY,
                       module, std::strtoul(id.c_str(), nullptr, 16), 0, reinterpret_cast<wchar_t*>(&buffer), 0,
                       reinterpret_cast<va_list*>(arguments));
    if (length == 0) {
      std::printf("error=%lu\n", GetLastError());
      continue;
    }
    std::printf("%s\n", Hex(Utf8(buffer, length)).c_str());
    LocalFree(buffer);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string command = argc > 1 ? argv[1] : "";
  if (command == "control" && argc == 4) return Control(argv[2], std::strtoul(argv[3], nullptr, 0));
  if (command == "event-texts" && argc == 3) return EventTexts(argv[2]);
  std::fprintf(stderr, "usage: service_probe control <service> <code> | event-texts <file>\n");
  return 2;
}
