// chron95's message boxes of a failed registration as a background process, one per argument
// (the error of that registration), shown by the routine chron95 itself calls; reports go to
// standard output. Wine's KERNEL32 registers every process, so chron95 never shows these boxes
// there: the Windows scenario tests run this program instead and read what MessageBoxW received
// from Wine's relay trace.
#include <cstdlib>
#include <system_error>

#include "messages/report.h"
#include "platform/error_text.h"
#include "win95/win95_host.h"

namespace {

// The registration's error by the Win32 number of what failed: 126 (ERROR_MOD_NOT_FOUND) the
// missing module, 127 (ERROR_PROC_NOT_FOUND) the missing entry point, any other the refusal's.
std::error_code RegistrationError(int number) {
  if (number == 126) return chron::platform::PlatformError::kNoServiceProcessModule;
  if (number == 127) return chron::platform::PlatformError::kNoServiceProcessEntry;
  return chron::platform::SystemError(number);
}

}  // namespace

int main(int argc, char** argv) {
  chron::SetReportTarget(chron::ReportTarget::kConsole);
  for (int i = 1; i < argc; ++i) chron::ReportRegistrationFailure(RegistrationError(std::atoi(argv[i])));
  return 0;
}
