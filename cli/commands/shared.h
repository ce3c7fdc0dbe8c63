// What several subcommands share: the search, the inventory and report
// files, and the texts of their common options.
#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "cli/inventory.h"
#include "protocol/network/diagnosis.h"
#include "protocol/settings/settings_document.h"
#include "protocol/wire/bytes.h"

namespace oxlo::cli {

inline constexpr const char* kMacHelp = "MAC address of the device, like 02-00-00-00-00-01";
inline constexpr const char* kInterfaceHelp = "Search on this network interface only, like eth0";

// Searches by broadcast (or asks the host `ip`, when not empty) on every
// interface or only `interface`, and waits `timeout` for replies. An
// interface that is not up is bad usage.
std::vector<SeenDevice> SearchDevices(
    const std::string& interface, const std::string& ip, double timeout,
    std::size_t* ignored = nullptr,
    std::optional<std::chrono::microseconds>* lastArrival = nullptr);

// Up to `limit` bytes of the file a command reads, or of standard input when
// it is named `-`. Throws std::runtime_error naming the file.
Bytes ReadInput(const std::string& file, std::size_t limit);
// How messages name that input: the file, or "standard input".
std::string InputName(const std::string& file);

// An inventory file read with bounded work; throws InventoryError naming the file.
std::vector<FleetDevice> ReadInventory(const std::string& file);

// --parallel: 1 to 1024.
void CheckParallel(int parallel);

// The report is written at the end; a path it cannot go to is known before
// anything is sent (UsageError).
void CheckReportPath(const std::string& report);
// Writes the report where --report names, replacing a file whole or adding
// to standard output; says on stderr why it could not.
bool WriteReport(const std::string& path, const Document& report);

// A JSON document, indented, with text cut inside a character replaced.
void PrintJson(std::ostream& out, const Document& document);

}  // namespace oxlo::cli
