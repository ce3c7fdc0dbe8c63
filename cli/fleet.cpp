#include "cli/fleet.h"

#include <algorithm>
#include <array>

#include "cli/arguments.h"
#include "cli/output.h"
#include "protocol/wire/fields.h"
#include "transport/devices/exchange_driver.h"

namespace oxlo::cli {
std::string_view FleetOutcomeName(FleetOutcome outcome) {
  switch (outcome) {
    case FleetOutcome::kUnchanged:
      return "unchanged";
    case FleetOutcome::kApplied:
      return "applied";
    case FleetOutcome::kWouldChange:
      return "would change";
    case FleetOutcome::kFailed:
      return "failed";
  }
  return "failed";
}

std::vector<FleetResult> ApplyFleet(transport::DeviceLine& line,
                                    const std::vector<FleetDevice>& devices,
                                    const FleetOptions& options,
                                    const std::function<void(std::size_t done)>& progress) {
  std::vector<FleetResult> results(devices.size());
  std::vector<SettingsVet> vets(devices.size());
  const ExchangeTiming timing =
      CommandLineTiming(options.readTimeout, options.ackTimeout, /*sharedLine=*/true);
  std::size_t done = 0;
  transport::RunExchanges(
      line, devices.size(), options.parallel,
      [&](std::size_t i) {
        results[i].mac = devices[i].mac;
        if (options.vetFor) vets[i] = options.vetFor(devices[i].mac);
        return DeviceExchange::Change(devices[i].macBytes,
                                      ChangePlanner(devices[i].macBytes, devices[i].desired,
                                                    options.dryRun, vets[i], results[i].change),
                                      timing);
      },
      [&](std::size_t i, transport::FinishedExchange finished) {
        FleetResult& result = results[i];
        try {
          ConcludeChange(finished.exchange, finished.oversizeReply, result.change);
          if (result.change.written && !result.change.verified) {
            result.error = UnverifiedReason(result.change);
          } else if (result.change.diff.empty()) {
            result.outcome = FleetOutcome::kUnchanged;
          } else {
            result.outcome = options.dryRun ? FleetOutcome::kWouldChange : FleetOutcome::kApplied;
          }
        } catch (const std::exception& error) {
          result.error = error.what();
          // The device's MAC leads most messages; the table names it already.
          if (result.error.rfind(result.mac + " ", 0) == 0) {
            result.error.erase(0, result.mac.size() + 1);
          }
        }
        if (progress) progress(++done);
      });
  return results;
}

std::vector<FleetReading> ReadFleet(transport::DeviceLine& line,
                                    const std::vector<DeviceRecord>& devices, int parallel,
                                    std::chrono::milliseconds timeout,
                                    const std::function<void(std::size_t done)>& progress) {
  std::vector<FleetReading> readings(devices.size());
  const ExchangeTiming timing = CommandLineTiming(timeout, timeout, /*sharedLine=*/true);
  std::size_t done = 0;
  transport::RunExchanges(
      line, devices.size(), parallel,
      [&](std::size_t i) {
        readings[i].device = devices[i];
        return DeviceExchange::Read(MacToBytes(devices[i].mac), timing);
      },
      [&](std::size_t i, transport::FinishedExchange finished) {
        if (finished.exchange.Outcome() == DeviceExchange::Result::kRead) {
          readings[i].settings = finished.exchange.Held();
        } else {
          readings[i].error = ReadFailure(finished.exchange, finished.oversizeReply);
        }
        if (progress) progress(++done);
      });
  return readings;
}

void PrintFleetTable(std::ostream& out, const std::vector<FleetDevice>& devices,
                     const std::vector<FleetResult>& results) {
  std::vector<std::vector<std::string>> rows{{"MAC", "NAME", "RESULT", "CHANGES"}};
  std::array<std::size_t, 4> tally{};
  for (std::size_t i = 0; i < results.size(); ++i) {
    const FleetResult& r = results[i];
    const Document name =
        devices[i].desired.value("network", Document::object()).value("name", Document());
    rows.push_back({r.mac, name.is_string() ? EscapeControls(name.get<std::string>()) : "",
                    std::string(FleetOutcomeName(r.outcome)),
                    r.outcome == FleetOutcome::kFailed ? EscapeControls(r.error)
                                                       : std::to_string(r.change.diff.size())});
    ++tally[static_cast<std::size_t>(r.outcome)];
  }
  PrintTable(out, rows);
  out << results.size() << " devices: " << tally[1] << " applied, " << tally[0] << " unchanged, "
      << tally[2] << " would change, " << tally[3] << " failed\n";
}

Document FleetReport(const std::vector<FleetResult>& results) {
  Document devices = Document::array();
  std::array<std::size_t, 4> tally{};
  for (const FleetResult& r : results) {
    devices.push_back(
        {{"mac", r.mac},
         {"result", std::string(FleetOutcomeName(r.outcome))},
         {"diff", DiffJson(r.change.diff)},
         {"verified", r.change.verified},
         {"error", r.outcome == FleetOutcome::kFailed ? Document(r.error) : Document(nullptr)}});
    ++tally[static_cast<std::size_t>(r.outcome)];
  }
  return {{"devices", devices},
          {"applied", tally[1]},
          {"unchanged", tally[0]},
          {"would_change", tally[2]},
          {"failed", tally[3]}};
}

Document FleetReadingsJson(const std::vector<FleetReading>& readings) {
  Document list = Document::array();
  for (const FleetReading& r : readings) {
    const DeviceRecord& d = r.device;
    list.push_back({{"mac", d.mac},
                    {"model", Latin1ToUtf8(d.model)},
                    {"version", Latin1ToUtf8(d.version)},
                    {"name", d.name},
                    {"ip", d.ip},
                    {"mask", d.mask},
                    {"gateway", d.gateway},
                    {"settings", r.settings ? SettingsToDocument(*r.settings) : Document(nullptr)},
                    {"error", r.settings ? Document(nullptr) : Document(r.error)}});
  }
  return list;
}

namespace {

// A CSV field as text: controls escaped as on a terminal, a leading
// character a spreadsheet would start a formula with (= + - @) behind a
// single quote, and quoted where it holds a comma or quote.
std::string CsvField(const std::string& raw) {
  std::string text = EscapeControls(raw);
  if (!text.empty() && std::string_view("=+-@\t\r").find(text.front()) != std::string_view::npos) {
    text.insert(0, 1, '\'');
  }
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  return quoted + "\"";
}

std::string CsvValue(const Document& value) {
  return value.is_string() ? value.get<std::string>() : value.dump();
}

}  // namespace

void PrintFleetCsv(std::ostream& out, const std::vector<FleetReading>& readings) {
  std::vector<std::string> header{"mac", "model", "version", "ip", "error"};
  for (const auto& [key, value] : SettingsByKey(DeviceSettings{})) header.push_back(key);
  for (std::size_t c = 0; c < header.size(); ++c) out << (c ? "," : "") << header[c];
  out << '\n';
  for (const FleetReading& r : readings) {
    std::vector<std::string> row{r.device.mac, Latin1ToUtf8(r.device.model),
                                 Latin1ToUtf8(r.device.version), r.device.ip, r.error};
    if (r.settings) {
      for (const auto& [key, value] : SettingsByKey(*r.settings)) row.push_back(CsvValue(value));
    }
    row.resize(header.size());
    for (std::size_t c = 0; c < row.size(); ++c) out << (c ? "," : "") << CsvField(row[c]);
    out << '\n';
  }
}

}  // namespace oxlo::cli
