// What an inventory asks of each device, and the inventories refused.
#include "cli/fleet.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

namespace oxlo::cli {
namespace {

TEST(Inventory, DefaultsUnderOverridesUnderNameAndAddresses) {
  const std::vector<FleetDevice> devices = ParseInventory(R"(
defaults:
  port: {mode: TCP_Server, local_port: 4001, no_delay: true}
  can: {bitrate_kbps: 500}
  filters:
    - {group: 1, slot: 1, type: Standard, id: "7FF"}
devices:
  - mac: 02-00-5e-00-01-01
    name: "4711"
    ip: 10.57.0.101
    settings:
      port: {local_port: 4002}
      network: {name: overridden, dns: 10.57.0.1}
      filters:
        - {group: 1, slot: 1, id: "100"}
  - mac: 02-00-5E-00-01-02
)");
  ASSERT_EQ(devices.size(), 2u);
  EXPECT_EQ(devices[0].mac, "02-00-5E-00-01-01");
  EXPECT_EQ(devices[0].desired, Document::parse(R"({
    "port": {"mode": "TCP_Server", "local_port": 4002, "no_delay": true},
    "can": {"bitrate_kbps": 500},
    "filters": [{"group": 1, "slot": 1, "type": "Standard", "id": "7FF"},
                {"group": 1, "slot": 1, "id": "100"}],
    "network": {"name": "4711", "dns": "10.57.0.1", "ip": "10.57.0.101"}})"));
  EXPECT_EQ(devices[1].desired, Document::parse(R"({
    "port": {"mode": "TCP_Server", "local_port": 4001, "no_delay": true},
    "can": {"bitrate_kbps": 500},
    "filters": [{"group": 1, "slot": 1, "type": "Standard", "id": "7FF"}]})"));
}

TEST(Inventory, RefusesWhatItCannotUseAndSaysWhere) {
  const struct {
    const char* yaml;
    const char* error;
  } cases[] = {
      {"devices:\n  - mac: 02-00-5E-00-01-0\n", "line 2: "},
      {"devices:\n  - mac: 02-00-5E-00-01-01\n  - mac: 02-00-5e-00-01-01\n",
       "line 3: 02-00-5E-00-01-01 is listed twice"},
      {"devices:\n  - mac: 02-00-5E-00-01-01\n    speed: 9600\n",
       "line 3: unknown key speed for 02-00-5E-00-01-01"},
      {"devices:\n  - name: Nobody\n", "line 2: a device without its mac"},
      {"device:\n  - mac: 02-00-5E-00-01-01\n", "line 1: unknown key device"},
      {"defaults: {}\n", "devices must be a list"},
      {"devices: [\n", ""},  // the YAML reader's own message
      {"- 1\n", "an inventory is a map with defaults and devices"},
      // A key written twice is no silent choice of one of them.
      {"devices:\n  - mac: 02-00-5E-00-01-01\ndevices:\n  - mac: 02-00-5E-00-01-02\n",
       "line 3: duplicate key devices (first on line 1)"},
      {"devices:\n  - mac: 02-00-5E-00-01-01\n    name: A\n    name: B\n",
       "line 4: duplicate key name (first on line 3)"},
      {"? [a]\n: b\n", "line 1: a key must be text"},
      {"devices: []\n---\ndevices: []\n", "more than one YAML document"},
      {"devices: [*nowhere]\n", ""},  // the YAML reader's own message
      {"devices:\n  - {mac: 02-00-5E-00-01-01, name: \x9c}\n", "not UTF-8 text"},
      {"defaults: {network: [1]}\ndevices:\n  - {mac: 02-00-5E-00-01-01, name: A}\n",
       "line 3: network settings must be a map"},
  };
  for (const auto& c : cases) {
    try {
      ParseInventory(c.yaml);
      ADD_FAILURE() << c.yaml << " was taken";
    } catch (const InventoryError& error) {
      EXPECT_EQ(std::string(error.what()).rfind(c.error, 0), 0u) << error.what();
    }
  }
}

// A cell is text to a spreadsheet: no formula, no escape sequence, no line
// break of its own.
TEST(FleetCsv, CellsAreTextWhateverTheDevicesHold) {
  DeviceSettings settings;
  settings.network.name = "=HYPERLINK(\"http://x\",\"y\")";
  settings.port.alias = "+cmd|' /C calc'!A0";
  settings.can.id = "@SUM(1)";
  settings.can.mask = "-2+3";
  FleetReading hostile;
  hostile.device.mac = "02-00-00-00-00-01";
  hostile.device.model = "\x1b]0;pwned\x07";
  hostile.device.version = "a\nb";
  hostile.settings = settings;
  FleetReading failed;
  failed.device.mac = "02-00-00-00-00-02";
  failed.device.model = "\tTab";
  failed.error = "invoice\xE2\x80\xAEgnp.exe, \"quoted\"";
  std::ostringstream out;
  PrintFleetCsv(out, {hostile, failed});
  const std::string csv = out.str();
  for (const char* cell : {",\"'=HYPERLINK(\"\"http://x\"\",\"\"y\"\")\",", ",'+cmd|' /C calc'!A0,",
                           ",'@SUM(1),", ",'-2+3,", ",\\x1b]0;pwned\\x07,a\\x0ab,", ",\\x09Tab,",
                           ",\"invoice\\u202egnp.exe, \"\"quoted\"\"\","}) {
    EXPECT_NE(csv.find(cell), std::string::npos) << cell << " not in\n" << csv;
  }
  EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 3) << csv;
  for (char c : csv) EXPECT_TRUE(c == '\n' || static_cast<unsigned char>(c) >= 0x20) << csv;
}

// Nodes counted with every alias expanded, and nesting, in flow or block
// form: a few hundred bytes must not become billions of nodes.
TEST(Inventory, RefusesWhatWouldTakeUnboundedWork) {
  // Nine of the previous, twenty times over: 9^20 nodes.
  std::string bomb = "a0: &a0 [x, x, x, x, x, x, x, x, x]\n";
  for (int i = 1; i < 20; ++i) {
    bomb += "a" + std::to_string(i) + ": &a" + std::to_string(i) + " [";
    for (int k = 0; k < 9; ++k) bomb += (k ? ", *a" : "*a") + std::to_string(i - 1);
    bomb += "]\n";
  }
  bomb += "devices: [*a19]\n";
  std::string block;
  for (int i = 0; i < 40; ++i) block += std::string(static_cast<std::size_t>(i), ' ') + "-\n";
  std::string many = "devices: [";
  for (std::size_t i = 0; i <= kMostInventoryNodes; ++i) many += "0,";
  many += "]\n";
  // Each device gets a copy of the defaults.
  std::string defaults = "defaults:\n  filters:\n";
  for (int i = 0; i < 2000; ++i) defaults += "    - {group: 1, slot: 1, type: Standard, id: '1'}\n";
  defaults += "devices:\n";
  for (int i = 0; i < 1000; ++i) {
    char mac[32];
    std::snprintf(mac, sizeof mac, "02-00-00-00-%02X-%02X", i / 256, i % 256);
    defaults += "  - mac: " + std::string(mac) + "\n";
  }
  const struct {
    std::string yaml;
    std::string error;
  } cases[] = {
      {bomb, "more than 500000 nodes once its aliases are expanded"},
      {"devices: " + std::string(1 << 20, '[') + "\n", "line 1: nested deeper than 32 levels"},
      {"devices: " + std::string(100, '{') + "\n", "line 1: nested deeper than 32 levels"},
      {"devices:\n" + std::string(1 << 16, '[') + "\n", "line 2: nested deeper than 32 levels"},
      {block, "line 33: nested deeper than 32 levels"},
      {"a: &a [[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[1]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]\ndevices: [[*a]]\n",
       "nested deeper than 32 levels once its aliases are expanded"},
      {many, "more than 500000 nodes"},
      {"devices: '" + std::string(1 << 17, '[') + "'\n", "line 1: a quoted text longer than"},
      {std::string(kLargestInventory + 1, '#'), "larger than"},
      {defaults, "the defaults, given to each of 1000 devices, come to more than"},
  };
  for (const auto& c : cases) {
    try {
      ParseInventory(c.yaml);
      ADD_FAILURE() << c.error << " was taken";
    } catch (const InventoryError& error) {
      EXPECT_EQ(std::string(error.what()).rfind(c.error, 0), 0u) << error.what();
    }
  }
  // Brackets and quotes in quoted text and comments are text.
  const std::vector<FleetDevice> devices = ParseInventory(
      "# [[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[\n"
      "devices:\n"
      "  - mac: 02-00-5E-00-01-01   # {{{{{{{{{{{{{{{{{{{{{{{{{{{{{{{{{{{{{{{\n"
      "    name: \"[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[\\\"\"\n"
      "  - mac: 02-00-5E-00-01-02\n"
      "    name: 'it''s [[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[['\n"
      "  - {mac: 02-00-5E-00-01-03, name: it's}\n");
  ASSERT_EQ(devices.size(), 3u);
  EXPECT_EQ(devices[0].desired["network"]["name"], "[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[\"");
  EXPECT_EQ(devices[1].desired["network"]["name"], "it's [[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[");
  EXPECT_EQ(devices[2].desired["network"]["name"], "it's");
}

}  // namespace
}  // namespace oxlo::cli
