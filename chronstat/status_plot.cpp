#include "chronstat/status_plot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

namespace chron {

namespace {

constexpr double kWidth = 900;
constexpr double kLeft = 90;   // room for the value labels
constexpr double kRight = 40;  // room for the last time label
constexpr double kPanelHeight = 200;
constexpr double kTop[2] = {50, 310};  // offset panel, delay panel
constexpr int kTicks = 5;

std::string Format(const char* format, double a, double b = 0, double c = 0, double d = 0) {
  char text[160];
  std::snprintf(text, sizeof text, format, a, b, c, d);
  return text;
}

std::string Escape(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '&': out += "&amp;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

// The unit a panel shows its values in, by the largest magnitude: seconds times `scale`.
struct Unit {
  double scale;
  const char* name;
};
Unit UnitFor(double largest) {
  if (largest < 1e-3) return {1e6, "µs"};
  if (largest < 1.0) return {1e3, "ms"};
  return {1.0, "s"};
}

// A value range that includes 0 and every value, widened to whole multiples of a round tick
// step (1, 2 or 5 times a power of ten) of about kTicks steps.
void Range(const std::vector<double>& values, double* low, double* high, double* step) {
  double lo = 0, hi = 0;
  for (double v : values) {
    lo = std::min(lo, v);
    hi = std::max(hi, v);
  }
  if (hi - lo <= 0) hi = lo + 1;
  const double rough = (hi - lo) / kTicks;
  const double power = std::pow(10.0, std::floor(std::log10(rough)));
  *step = power * (rough <= power ? 1 : rough <= 2 * power ? 2 : rough <= 5 * power ? 5 : 10);
  *low = std::floor(lo / *step) * *step;
  *high = std::ceil(hi / *step) * *step;
}

const char* ColourOf(const std::string& correction) {
  if (correction == kCorrectionStepped) return "#1f77b4";
  if (correction == kCorrectionSlewed) return "#2ca02c";
  if (correction == kCorrectionRefused) return "#d62728";
  return "#7f7f7f";
}

// One marker: a circle for a correction made, a cross for one refused or failed.
std::string Marker(const char* kind, const std::string& correction, double x, double y) {
  const std::string cls = std::string(kind) + " " + Escape(correction);
  if (correction == kCorrectionStepped || correction == kCorrectionSlewed) {
    return "<circle class=\"" + cls + "\" cx=\"" + Format("%.1f", x) + "\" cy=\"" + Format("%.1f", y) +
           "\" r=\"3\" fill=\"" + ColourOf(correction) + "\"/>\n";
  }
  return "<path class=\"" + cls + "\" d=\"" + Format("M%.1f %.1fl6 6m0 -6l-6 6", x - 3, y - 3) + "\" stroke=\"" +
         ColourOf(correction) + "\" stroke-width=\"2\"/>\n";
}

std::string ClockText(int64_t ns) { return IsoTime(ns).substr(11, 8); }

}  // namespace

std::string PlotSvg(const StatusRecord& record) {
  const std::vector<HistoryEntry>& h = record.history;
  const double height = kTop[1] + kPanelHeight + 70;
  std::string svg = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  svg += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + Format("%.0f", kWidth) + "\" height=\"" +
         Format("%.0f", height) + "\" viewBox=\"0 0 " + Format("%.0f %.0f", kWidth, height) +
         "\" font-family=\"sans-serif\" font-size=\"12\">\n";
  svg += "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
  std::string title = Escape(record.program) + " (pid " + std::to_string(record.pid) + "): offset and delay";
  if (record.client && !record.client->address.empty()) title += " against " + Escape(record.client->address);
  svg += "<text x=\"" + Format("%.0f", kLeft) + "\" y=\"24\" font-size=\"16\">" + title + "</text>\n";

  int64_t first = h.empty() ? record.updated_ns : h.front().time_ns;
  int64_t last = h.empty() ? record.updated_ns : h.back().time_ns;
  if (last <= first) last = first + 1'000'000'000;
  const double plot_width = kWidth - kLeft - kRight;
  auto x_of = [&](int64_t t) {
    return kLeft + plot_width * static_cast<double>(t - first) / static_cast<double>(last - first);
  };

  const char* kinds[2] = {"offset", "delay"};
  for (int panel = 0; panel < 2; ++panel) {
    std::vector<double> values;
    double largest = 0;
    for (const HistoryEntry& e : h) {
      values.push_back(panel == 0 ? e.offset_s : e.delay_s);
      largest = std::max(largest, std::fabs(values.back()));
    }
    const Unit unit = UnitFor(largest);
    for (double& v : values) v *= unit.scale;
    double low = 0, high = 0, step = 1;
    Range(values, &low, &high, &step);
    const double top = kTop[panel];
    auto y_of = [&](double v) { return top + kPanelHeight * (high - v) / (high - low); };

    svg += "<g class=\"panel-" + std::string(kinds[panel]) + "\">\n";
    svg += "<rect x=\"" +
           Format("%.0f\" y=\"%.0f\" width=\"%.0f\" height=\"%.0f", kLeft, top, plot_width, kPanelHeight) +
           "\" fill=\"none\" stroke=\"black\"/>\n";
    for (double v = low; v <= high + step / 2; v += step) {
      const double y = y_of(v);
      svg += "<line x1=\"" + Format("%.0f\" y1=\"%.1f\" x2=\"%.0f\" y2=\"%.1f", kLeft, y, kLeft + plot_width, y) +
             "\" stroke=\"#ddd\"/>\n";
      svg += "<text x=\"" + Format("%.0f\" y=\"%.1f", kLeft - 6, y + 4) + "\" text-anchor=\"end\">" +
             Format("%.4g", std::fabs(v) < step / 2 ? 0.0 : v) + "</text>\n";
    }
    if (low < 0 && high > 0) {
      svg += "<line x1=\"" +
             Format("%.0f\" y1=\"%.1f\" x2=\"%.0f\" y2=\"%.1f", kLeft, y_of(0), kLeft + plot_width, y_of(0)) +
             "\" stroke=\"#888\"/>\n";
    }
    svg += "<text transform=\"translate(18 " + Format("%.0f", top + kPanelHeight / 2) +
           ") rotate(-90)\" text-anchor=\"middle\">" + std::string(kinds[panel]) + " (" + unit.name + ")</text>\n";
    if (values.size() > 1) {
      svg += "<polyline class=\"line\" fill=\"none\" stroke=\"#aaa\" points=\"";
      for (size_t i = 0; i < values.size(); ++i) svg += Format("%.1f,%.1f ", x_of(h[i].time_ns), y_of(values[i]));
      svg += "\"/>\n";
    }
    for (size_t i = 0; i < values.size(); ++i)
      svg += Marker(kinds[panel], h[i].correction, x_of(h[i].time_ns), y_of(values[i]));
    svg += "</g>\n";
  }

  // The time axis below the delay panel, UTC.
  const double axis = kTop[1] + kPanelHeight;
  for (int i = 0; i <= kTicks; ++i) {
    const int64_t t = first + (last - first) * i / kTicks;
    const double x = x_of(t);
    svg += "<line x1=\"" + Format("%.1f\" y1=\"%.0f\" x2=\"%.1f\" y2=\"%.0f", x, axis, x, axis + 5) +
           "\" stroke=\"black\"/>\n";
    svg += "<text x=\"" + Format("%.1f\" y=\"%.0f", x, axis + 18) + "\" text-anchor=\"middle\">" + ClockText(t) +
           "</text>\n";
  }
  svg += "<text x=\"" + Format("%.0f\" y=\"%.0f", kLeft + plot_width / 2, axis + 36) +
         "\" text-anchor=\"middle\">time (UTC, " + IsoTime(first).substr(0, 10) + ")</text>\n";
  if (h.empty()) {
    svg += "<text x=\"" + Format("%.0f\" y=\"%.0f", kLeft + plot_width / 2, kTop[0] + kPanelHeight / 2) +
           "\" text-anchor=\"middle\">no samples yet</text>\n";
  }
  // Legend: the correction kinds.
  double lx = kLeft;
  const double ly = axis + 58;
  for (const char* kind : {kCorrectionStepped, kCorrectionSlewed, kCorrectionRefused, kCorrectionFailed}) {
    svg += Marker("legend", kind, lx + 4, ly - 4);
    svg += "<text x=\"" + Format("%.0f\" y=\"%.0f", lx + 14, ly) + "\">" + kind + "</text>\n";
    lx += 110;
  }
  svg += "</svg>\n";
  return svg;
}

}  // namespace chron
