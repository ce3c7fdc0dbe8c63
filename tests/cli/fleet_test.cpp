// What an inventory asks of each device, and the inventories refused.
#include "cli/fleet.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace oxlo::cli
