// chronstat --plot: offset and delay over the record's history as an SVG picture, two panels
// over one time axis, each sample a marker whose shape and colour tell its correction.
#pragma once

#include <string>

#include "status/status_record.h"

namespace chron {

// A complete SVG document (UTF-8). Each history entry gives one element of class "offset" and
// one of class "delay"; an empty history gives the axes and a note.
std::string PlotSvg(const StatusRecord& record);

}  // namespace chron
