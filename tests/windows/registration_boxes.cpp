// chron95's message boxes of a failed registration as a background process, one per argument
// (the error of that registration), shown by the routine chron95 itself calls; reports go to
// standard output. Wine's KERNEL32 registers every process, so chron95 never shows these boxes
// there: the Windows scenario tests run this program instead and read what MessageBoxW received
// from Wine's relay trace.
#include <cstdlib>

#include "messages/report.h"
#include "win95/win95_host.h"

int main(int argc, char** argv) {
  chron::SetReportTarget(chron::ReportTarget::kConsole);
  for (int i = 1; i < argc; ++i) chron::ReportRegistrationFailure(std::atoi(argv[i]));
  return 0;
}
