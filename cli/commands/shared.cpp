#include "cli/commands/shared.h"

#include <algorithm>
#include <iostream>
#include <stdexcept>

#include "cli/arguments.h"
#include "cli/device_search.h"
#include "cli/output.h"
#include "transport/files/files.h"
#include "transport/sockets/endpoint.h"

namespace oxlo::cli {

std::vector<SeenDevice> SearchDevices(const std::string& interface, const std::string& ip,
                                      double timeout, std::size_t* ignored,
                                      std::optional<std::chrono::microseconds>* lastArrival) {
  if (!interface.empty()) {
    const std::vector<HostInterface> up = transport::HostInterfaces();
    if (std::none_of(up.begin(), up.end(),
                     [&interface](const HostInterface& i) { return i.name == interface; })) {
      throw UsageError("--interface: no interface " + interface + " with an IPv4 address is up");
    }
  }
  DeviceSearch search;
  search.KeepToInterface(interface);
  search.Open();
  if (ip.empty()) {
    search.Broadcast();
  } else {
    search.AskHost(ip);
  }
  std::vector<SeenDevice> devices = search.Collect(Milliseconds(timeout));
  search.Close();
  if (ignored != nullptr) *ignored = search.IgnoredReplies();
  if (lastArrival != nullptr) *lastArrival = search.LastArrival();
  return devices;
}

Bytes ReadInput(const std::string& file, std::size_t limit) {
  if (transport::IsStandardInput(file)) return transport::ReadStandardInputStart(limit);
  return transport::ReadFileStart(file, limit);
}

std::string InputName(const std::string& file) {
  return transport::IsStandardInput(file) ? "standard input" : file;
}

std::vector<FleetDevice> ReadInventory(const std::string& file) {
  // A wrong file is not read whole.
  const Bytes bytes = ReadInput(file, kLargestInventory + 1);
  if (bytes.size() > kLargestInventory) {
    throw InventoryError(InputName(file) + ": larger than an inventory can be");
  }
  try {
    return ParseInventory(std::string(bytes.begin(), bytes.end()));
  } catch (const InventoryError& error) {
    throw InventoryError(InputName(file) + ": " + error.what());
  }
}

void CheckParallel(int parallel) {
  if (parallel < 1 || parallel > 1024) throw UsageError("--parallel: from 1 to 1024");
}

void CheckReportPath(const std::string& report) {
  if (report.empty() || transport::IsStandardOutput(report)) return;
  try {
    transport::CheckWritable(report);
  } catch (const std::runtime_error& error) {
    throw UsageError(std::string("--report: ") + error.what());
  }
}

bool WriteReport(const std::string& path, const Document& report) {
  if (path.empty()) return true;
  const std::string text = report.dump(2, ' ', false, Document::error_handler_t::replace) + "\n";
  try {
    if (transport::IsStandardOutput(path)) {
      std::cout.flush();
      transport::WriteStandardOutput(Bytes(text.begin(), text.end()));
    } else {
      transport::WriteFileAtomically(path, Bytes(text.begin(), text.end()));
    }
  } catch (const std::runtime_error& error) {
    std::cerr << "oxlo: " << ErrorText(error) << "\n";
    return false;
  }
  return true;
}

void PrintJson(std::ostream& out, const Document& document) {
  out << document.dump(2, ' ', false, Document::error_handler_t::replace) << "\n";
}

}  // namespace oxlo::cli
