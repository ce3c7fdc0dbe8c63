#include "cli/output.h"

#include <algorithm>
#include <array>
#include <nlohmann/json.hpp>

#include "protocol/fields.h"

namespace oxlo::cli {
namespace {

// Width on a terminal: UTF-8 continuation bytes take no column.
std::size_t Columns(const std::string& text) {
  return static_cast<std::size_t>(
      std::count_if(text.begin(), text.end(), [](char c) { return (c & 0xC0) != 0x80; }));
}

}  // namespace

std::string Latin1ToUtf8(const std::string& text) {
  std::string utf8;
  for (unsigned char c : text) {
    if (c < 0x80) {
      utf8.push_back(static_cast<char>(c));
    } else {
      utf8.push_back(static_cast<char>(0xC0 | c >> 6));
      utf8.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return utf8;
}

void PrintDeviceTable(std::ostream& out, const std::vector<DeviceRecord>& devices) {
  using Row = std::array<std::string, 7>;
  std::vector<Row> rows{{"MODEL", "MAC", "VERSION", "NAME", "IP", "MASK", "GATEWAY"}};
  for (const DeviceRecord& d : devices) {
    rows.push_back({Latin1ToUtf8(d.model), d.mac, Latin1ToUtf8(d.version), d.name, d.ip, d.mask,
                    d.gateway});
  }
  std::array<std::size_t, 7> widths{};
  for (const Row& row : rows) {
    for (std::size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], Columns(row[i]));
  }
  for (const Row& row : rows) {
    std::string line;
    for (std::size_t i = 0; i < row.size(); ++i) {
      line += row[i];
      if (i + 1 < row.size()) line.append(widths[i] - Columns(row[i]) + 2, ' ');
    }
    out << line << '\n';
  }
}

void PrintDeviceJson(std::ostream& out, const std::vector<DeviceRecord>& devices) {
  nlohmann::json list = nlohmann::json::array();
  for (const DeviceRecord& d : devices) {
    list.push_back({{"model", Latin1ToUtf8(d.model)},
                    {"mac", d.mac},
                    {"version", Latin1ToUtf8(d.version)},
                    {"name", d.name},
                    {"ip", d.ip},
                    {"mask", d.mask},
                    {"gateway", d.gateway}});
  }
  out << list.dump(2) << '\n';
}

}  // namespace oxlo::cli
