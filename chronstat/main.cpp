// chronstat: what the running time service is doing, read from its status file. Plain lines
// for people, --json for scripts, --prometheus for the textfile collector, --plot for a picture.
// Exit status: 0 synchronised (or a program without client), 1 running but not synchronised or
// not updating its record, 2 no program running, no status file, or none that can be read; 3
// usage, or the plot cannot be written.
#include <cstdio>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "chronstat/status_plot.h"
#include "chronstat/status_view.h"
#include "platform/arguments.h"
#include "platform/clock.h"
#include "platform/console.h"
#include "platform/file.h"
#include "platform/process_watch.h"
#include "platform/status_file.h"
#include "status/status_record.h"
#include "status/status_text.h"

namespace {

using namespace chron;

constexpr int kUsage = 3;  // also: the plot cannot be written
// A record of 1,000 samples takes about 130 KB; anything far beyond is no status file.
constexpr size_t kFileLimit = 16u << 20;

void PrintUsage(std::FILE* to) {
  platform::WriteText(to,
                      "Usage: chronstat [--json | --prometheus | --plot FILE.svg]\n"
                      "  (no option)       the state in plain words\n"
                      "  --json            the status record as it is\n"
                      "  --prometheus      counters and current values in the Prometheus text format\n"
                      "  --plot FILE.svg   offset and delay over the last samples as an SVG picture\n"
                      "The status file is CHRON_STATUS if set, else ");
  platform::PrintText(to,
                      "%s.\n"
                      "Exit status: 0 synchronised (or no client), 1 not synchronised or not updated, 2 not running.\n",
                      platform::DefaultStatusFilePath().c_str());
}

bool WritePlot(const std::string& path, const std::string& svg) {
  std::FILE* file = platform::OpenFile(path, "wb");
  if (file == nullptr) return false;
  const bool written = std::fwrite(svg.data(), 1, svg.size(), file) == svg.size();
  return std::fclose(file) == 0 && written;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args = platform::ProgramArguments(argc, argv);
  enum class Output { kPlain, kJson, kPrometheus, kPlot } output = Output::kPlain;
  std::string plot_path;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string_view arg = args[i];
    if (arg == "--json") {
      output = Output::kJson;
    } else if (arg == "--prometheus") {
      output = Output::kPrometheus;
    } else if (arg == "--plot" && i + 1 < args.size() && !args[i + 1].empty()) {
      output = Output::kPlot;
      plot_path = args[++i];
    } else if (arg == "-h" || arg == "--help") {
      PrintUsage(stdout);
      return 0;
    } else {
      platform::PrintText(stderr, "chronstat: unknown argument: %s\n", args[i].c_str());
      PrintUsage(stderr);
      return kUsage;
    }
  }

  const std::string path = platform::StatusFilePath();
  std::string text;
  const std::error_code error = platform::ReadRegularFile(path, kFileLimit, &text);
  if (error) {
    if (platform::IsMissingFileError(error)) {
      platform::PrintText(stderr,
                          "chronstat: no status file %s: neither chronsvc nor chron95 is running (or it cannot write "
                          "there)\n",
                          path.c_str());
    } else {
      platform::PrintText(stderr, "chronstat: cannot read the status file %s: %s\n", path.c_str(),
                          platform::FileErrorText(error, kFileLimit).c_str());
    }
    return kExitNotRunning;
  }
  StatusRecord record;
  std::string reason;
  if (!StatusFromJson(text, &record, &reason)) {
    // The reason may quote a name from the file.
    platform::PrintText(stderr, "chronstat: %s is no status record: %s\n", path.c_str(), TerminalText(reason).c_str());
    return kExitNotRunning;
  }
  const Writer writer = JudgeWriter(record, platform::SystemProcessWatch());
  const std::string program = TerminalText(record.program);
  if (writer.state == Writer::kGone) {
    platform::PrintText(stderr, "chronstat: %s (pid %u) is not running: %s was left behind by it\n", program.c_str(),
                        record.pid, path.c_str());
  } else if (writer.state == Writer::kNotUpdated) {
    platform::PrintText(stderr,
                        "chronstat: %s (pid %u) runs but has not updated %s since %s (%s ago, due every %u s)\n",
                        program.c_str(), record.pid, path.c_str(), IsoTime(record.updated_ns).c_str(),
                        SpanText(writer.silent_ms * 1'000'000).c_str(), record.period_s);
  }

  switch (output) {
    case Output::kPlain:
      platform::WriteText(stdout, PlainText(record, writer, platform::SystemClock().NowNanoseconds()));
      break;
    case Output::kJson: platform::WriteText(stdout, text); break;
    case Output::kPrometheus: platform::WriteText(stdout, PrometheusText(record, writer)); break;
    case Output::kPlot:
      if (!WritePlot(plot_path, PlotSvg(record))) {
        platform::PrintText(stderr, "chronstat: cannot write %s\n", plot_path.c_str());
        return kUsage;
      }
      platform::PrintText(stdout, "chronstat: %zu samples plotted to %s\n", record.history.size(), plot_path.c_str());
      break;
  }
  return StatusExitCode(record, writer);
}
