// The Win32 named objects, error texts, run-time loading and service manager connection.
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <string>

#include "platform/error_text.h"
#include "platform/named_mutex.h"
#include "platform/service_manager.h"
#include "platform/shared_library.h"

namespace chron::platform {
namespace {

std::string UniqueName(const char* what) {
  return std::string("Chron.Test.") + what + "." +
         std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
}

// The service's mutex (session 0) is the one a program in a user's session finds.
TEST(Win32NamedMutexTest, NamedInTheGlobalNamespace) {
  const std::string name = UniqueName("Mutex");
  HANDLE service_instance = CreateMutexW(nullptr, TRUE, (L"Global\\" + std::wstring(name.begin(), name.end())).c_str());
  ASSERT_NE(service_instance, nullptr);
  std::unique_ptr<NamedMutex> second;
  bool exists = false;
  EXPECT_FALSE(NamedMutex::Create(name, &second, &exists));
  EXPECT_TRUE(exists);
  CloseHandle(service_instance);
}

TEST(Win32ErrorTextTest, SystemTextsEndInALineBreakUnknownCodesHaveNone) {
  std::string text;
  ASSERT_TRUE(SystemErrorMessage(5, &text));  // ERROR_ACCESS_DENIED
  EXPECT_GT(text.size(), 2u);
  EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
  EXPECT_EQ(SystemError(5).message(), text);  // the category of the platform's errors says the same
  text = "unchanged";
  EXPECT_FALSE(SystemErrorMessage(0x2000FFFF, &text));  // customer bit: no system text
  EXPECT_EQ(text, "unchanged");
  EXPECT_EQ(SystemError(0x2000FFFF).message(), "Der Text für Systemfehlermeldung 536936447 ist nicht zu finden !");
}

TEST(Win32SharedLibraryTest, LoadsExportsAndReportsMissingLibraries) {
  std::unique_ptr<SharedLibrary> kernel;
  std::string error;
  ASSERT_FALSE(SharedLibrary::Load("kernel32.dll", &kernel, &error));
  EXPECT_NE(kernel->Symbol("GetTickCount"), nullptr);
  EXPECT_EQ(kernel->Symbol("NoSuchExport"), nullptr);
  std::unique_ptr<SharedLibrary> missing;
  EXPECT_EQ(SharedLibrary::Load("no-such-library.dll", &missing, &error).value(), 126);  // ERROR_MOD_NOT_FOUND
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(ExecutableDirectory().empty());
}

TEST(Win32ServiceManagerTest, AConsoleProgramCannotConnect) {
  std::unique_ptr<ServiceManager> manager;
  bool handler_failed = true;
  EXPECT_EQ(ConnectServiceManager(&manager, &handler_failed).value(), 1063);  // ERROR_FAILED_SERVICE_CONTROLLER_CONNECT
  EXPECT_FALSE(handler_failed);  // the dispatcher's step, reported as 0xc1000002
  EXPECT_FALSE(manager);
}

}  // namespace
}  // namespace chron::platform
