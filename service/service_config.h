// The configuration as a service takes it at start-up.
#pragma once

#include <string>

#include "config/configuration.h"
#include "platform/registry.h"

namespace chron {

// Reads the configuration (ReadConfiguration), keeps the intervals in their valid ranges
// (KeepInValidRanges) and reports a warning for every stored number not taken as stored:
// 0x81000024 / 0x81000023 for the poll and broadcast intervals out of range, a warning of its
// own for a number stored as text. The environment variable CHRON_MIN_INTERVAL (whole seconds,
// at least 1) lowers the shortest interval taken, for tests and demonstrations. Also reads the
// values outside the settings table (IPv6, KeyFile, Client\Discipline, WaitForNetwork): every
// setting a program uses is read here, once, before its start.
void ReadServiceConfiguration(platform::Registry& registry, Configuration* config, ConfigSubset subset);

// Reports a complaint about the machine hive (one that cannot be read or parsed) as an error;
// the service goes on with what it can read, the defaults in place of the rest.
void ReportRegistryComplaint(const std::string& text);

}  // namespace chron
