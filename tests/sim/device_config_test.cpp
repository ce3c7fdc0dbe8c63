#include "sim/device_config.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>

#include "protocol/wire/fields.h"
#include "sim_test_support.h"

namespace oxlo::sim {
namespace {

using testing::TempDir;

constexpr char kFullDevice[] = R"([{
  "mac": "0A:1B:2C:3D:4E:5F", "model": "Bench CG", "version": "9.8.7", "name": "K\u00fchlhaus",
  "ip": "192.168.1.50", "mask": "255.255.254.0", "gateway": "192.168.1.1", "extra": "1.2.3.4",
  "network": {"type": 1, "dns": "9.9.9.9", "echo": 200},
  "port": {"index": 0, "mode": "UDP_Client", "local_port": 5001, "alias": "Line 7", "type": 1,
           "target_ip": "192.168.1.9", "target_port": 6001, "alive": 11, "latency": 12,
           "no_delay": true},
  "can": {"baud_index": 3, "format": 2, "id": "1abc", "mask": "1FFFFFFF"},
  "filters": [{"type": 1, "id": "7FF"}, {"type": 2, "id": "12345678"}],
  "firmware": {"version_after": "9.8.8", "reboot_ms": 3000, "flash_ms": 2, "refuse_end": true}
}])";

}  // namespace

TEST(DeviceConfig, ReadsEveryField) {
  const std::vector<DeviceState> devices = DevicesFromJson(kFullDevice);
  ASSERT_EQ(devices.size(), 1u);
  const DeviceState& d = devices[0];
  EXPECT_EQ(MacToText(d.identity.mac), "0A-1B-2C-3D-4E-5F");
  EXPECT_EQ(d.identity.model, "Bench CG");
  EXPECT_EQ(d.identity.version, "9.8.7");
  EXPECT_EQ(d.identity.name, "K\xC3\xBChlhaus");
  EXPECT_EQ(d.identity.ip, (Ipv4Field{192, 168, 1, 50}));
  EXPECT_EQ(d.identity.mask, (Ipv4Field{255, 255, 254, 0}));
  EXPECT_EQ(d.identity.gateway, (Ipv4Field{192, 168, 1, 1}));
  EXPECT_EQ(d.identity.extra, (Ipv4Field{1, 2, 3, 4}));

  const NetworkSettings network{1,
                                {192, 168, 1, 50},
                                {192, 168, 1, 1},
                                {255, 255, 254, 0},
                                {9, 9, 9, 9},
                                "K\xC3\xBChlhaus",
                                1,
                                200};
  EXPECT_EQ(d.network, network);
  const PortSettings port{0,
                          OperationMode::kUdpClient,
                          5001,
                          "Line 7",
                          kPortTypeModem,
                          {192, 168, 1, 9},
                          6001,
                          11,
                          12,
                          true};
  EXPECT_EQ(d.port, port);
  const CanSettings can{3, kIdFormat29Bit, "00001ABC", "1FFFFFFF"};
  EXPECT_EQ(d.can, can);
  EXPECT_EQ(d.filters.entries[0], (FilterEntry{1, "000007FF"}));
  EXPECT_EQ(d.filters.entries[1], (FilterEntry{2, "12345678"}));
  EXPECT_EQ(d.filters.entries[2], GeneratedDevice(1).filters.entries[2]);
  EXPECT_EQ(d.upgrade.versionAfter, "9.8.8");
  EXPECT_EQ(d.upgrade.reboot, std::chrono::milliseconds(3000));
  EXPECT_EQ(d.upgrade.flash, std::chrono::milliseconds(2));
  EXPECT_EQ(d.upgrade.refuseEnd, true);
}

// Each key of "firmware" overrides the simulator's option alone; a device
// may come back with the version it had.
TEST(DeviceConfig, FirmwareKeysOverrideOneByOne) {
  const auto devices = DevicesFromJson(R"([
    {"version": "1.0.1", "firmware": {"version_after": "1.0.1"}},
    {"firmware": {"reboot_ms": 0, "flash_ms": 600000}},
    {"firmware": {"refuse_end": false}},
    {"firmware": {}}
  ])");
  ASSERT_EQ(devices.size(), 4u);
  UpgradeBehaviour everyDevice;
  everyDevice.versionAfter = "2.0.0";
  everyDevice.reboot = std::chrono::milliseconds(1000);
  everyDevice.flash = std::chrono::milliseconds(2);
  everyDevice.refuseEnd = true;

  const UpgradeBehaviour sameVersion = devices[0].upgrade.Over(everyDevice);
  EXPECT_EQ(sameVersion.versionAfter, devices[0].identity.version);
  EXPECT_EQ(sameVersion.reboot, everyDevice.reboot);

  const UpgradeBehaviour times = devices[1].upgrade.Over(everyDevice);
  EXPECT_EQ(times.versionAfter, "2.0.0");
  EXPECT_EQ(times.reboot, std::chrono::milliseconds(0));
  EXPECT_EQ(times.flash, std::chrono::milliseconds(600000));
  EXPECT_TRUE(times.refuseEnd);

  EXPECT_FALSE(devices[2].upgrade.Over(everyDevice).refuseEnd);
  const UpgradeBehaviour same = devices[3].upgrade.Over(everyDevice);
  EXPECT_EQ(same.versionAfter, everyDevice.versionAfter);
  EXPECT_EQ(same.reboot, everyDevice.reboot);
  EXPECT_EQ(same.flash, everyDevice.flash);
  EXPECT_EQ(same.refuseEnd, everyDevice.refuseEnd);
}

TEST(DeviceConfig, MissingKeysKeepTheGeneratedDevicesValues) {
  const auto devices = DevicesFromJson(R"([{}, {"name": "Only a name", "gateway": "10.0.0.1"}])");
  ASSERT_EQ(devices.size(), 2u);
  const DeviceState first = GeneratedDevice(1);
  EXPECT_EQ(devices[0].identity.mac, first.identity.mac);
  EXPECT_EQ(devices[0].network, first.network);
  EXPECT_EQ(devices[0].port, first.port);
  EXPECT_EQ(devices[0].can, first.can);
  EXPECT_EQ(devices[0].filters, first.filters);

  const DeviceState second = GeneratedDevice(2);
  EXPECT_EQ(devices[1].identity.mac, second.identity.mac);
  EXPECT_EQ(devices[1].identity.ip, second.identity.ip);
  // The network block describes the same device as the identity.
  EXPECT_EQ(devices[1].network.name, "Only a name");
  EXPECT_EQ(devices[1].network.gateway, (Ipv4Field{10, 0, 0, 1}));
  EXPECT_EQ(devices[1].network.dns, (Ipv4Field{10, 0, 0, 1}));
  EXPECT_EQ(devices[1].network.address, second.identity.ip);
}

TEST(DeviceConfig, BadFilesSayWhereTheProblemIs) {
  struct Case {
    const char* json;
    const char* message;  // a part of the error text
  };
  const Case cases[] = {
      {"[{", "not valid JSON"},
      {"", "not valid JSON"},
      {R"({"mac": "02-00-00-00-00-01"})", "expected an array"},
      {"[]", "no device"},
      {"[5]", "devices[0]: expected an object"},
      {R"([{}, {"nmae": "x"}])", "devices[1]: unknown key \"nmae\""},
      {R"([{"mac": "02-00-00-00-00"}])", "devices[0].mac: \"02-00-00-00-00\" is not a MAC"},
      {R"([{"mac": "02-00-00-00-00-0G"}])", "devices[0].mac"},
      {R"([{"mac": "02-00-00-00-00-01"}, {"mac": "02-00-00-00-00-01"}])",
       "devices[1].mac: 02-00-00-00-00-01 is already used"},
      {R"([{"ip": "10.57.0.256"}])", "devices[0].ip: \"10.57.0.256\" is not an IPv4 address"},
      {R"([{"ip": "10.57.0"}])", "devices[0].ip"},
      {R"([{"ip": "10.57..1"}])", "devices[0].ip"},
      {R"([{"ip": 10}])", "devices[0].ip: expected a string"},
      {R"([{"name": "123456789012345678901234567890123"}])", "longer than 32 bytes"},
      {R"([{"version": "123456789"}])", "devices[0].version"},
      {R"([{"model": "123456789012345678901"}])", "devices[0].model"},
      {R"([{"port": {"mode": "TCP"}}])",
       "devices[0].port.mode: \"TCP\" is not one of COM_Redirector"},
      {R"([{"port": {"local_port": 65536}}])",
       "devices[0].port.local_port: 65536 is outside 0..65535"},
      {R"([{"port": {"local_port": 1.5}}])", "expected a whole number"},
      {R"([{"port": {"no_delay": 1}}])", "devices[0].port.no_delay: expected true or false"},
      {R"([{"port": {"alias": "12345678901234567"}}])", "devices[0].port.alias"},
      {R"([{"port": 1}])", "devices[0].port: expected an object"},
      {R"([{"network": {"echo": -1}}])", "devices[0].network.echo"},
      {R"([{"network": {"dns": "x"}}])", "devices[0].network.dns"},
      {R"([{"can": {"id": "123456789"}}])", "devices[0].can.id"},
      {R"([{"can": {"id": "7FG"}}])", "devices[0].can.id"},
      {R"([{"can": {"mask": 255}}])", "devices[0].can.mask"},
      {R"([{"can": {"bitrate": 1}}])", "devices[0].can: unknown key \"bitrate\""},
      {R"([{"filters": {}}])", "devices[0].filters: expected an array"},
      {R"([{"filters": [{"type": 256}]}])", "devices[0].filters[0].type"},
      {R"([{"filters": [{}, {"id": ""}]}])", "devices[0].filters[1].id"},
      {R"([{"firmware": 1}])", "devices[0].firmware: expected an object"},
      {R"([{"firmware": {"reboot": 1}}])", "devices[0].firmware: unknown key \"reboot\""},
      {R"([{}, {}, {"firmware": {"reboot_ms": 600001}}])",
       "devices[2].firmware.reboot_ms: 600001 is outside 0..600000"},
      {R"([{"firmware": {"reboot_ms": 1.5}}])",
       "devices[0].firmware.reboot_ms: expected a whole number"},
      {R"([{"firmware": {"flash_ms": -1}}])", "devices[0].firmware.flash_ms: -1 is outside"},
      {R"([{"firmware": {"flash_ms": "2"}}])", "devices[0].firmware.flash_ms: expected a whole"},
      {R"([{"firmware": {"version_after": "2.0.0-rc1"}}])",
       "devices[0].firmware.version_after: \"2.0.0-rc1\" is longer than 8 bytes"},
      {R"([{"firmware": {"version_after": 2}}])",
       "devices[0].firmware.version_after: expected a string"},
      {R"([{"firmware": {"refuse_end": "yes"}}])",
       "devices[0].firmware.refuse_end: expected true or false"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.json);
    try {
      DevicesFromJson(c.json);
      ADD_FAILURE() << "accepted";
    } catch (const ConfigError& error) {
      EXPECT_NE(std::string(error.what()).find(c.message), std::string::npos) << error.what();
    }
  }

  std::string tooMany = "[";
  for (int i = 0; i < 33; ++i) tooMany += std::string(i ? "," : "") + "{}";
  tooMany += "]";
  EXPECT_THROW(DevicesFromJson(R"([{"filters": )" + tooMany + "}]"), ConfigError);
}

TEST(DeviceConfig, FileErrorsNameTheFile) {
  TempDir dir;
  const auto missing = dir.Path() / "absent.json";
  try {
    LoadDeviceFile(missing);
    ADD_FAILURE() << "accepted a missing file";
  } catch (const ConfigError& error) {
    EXPECT_NE(std::string(error.what()).find(missing.string()), std::string::npos);
  }

  const auto broken = dir.Path() / "broken.json";
  std::ofstream(broken) << R"([{"ip": "1.2.3"}])";
  try {
    LoadDeviceFile(broken);
    ADD_FAILURE() << "accepted a bad address";
  } catch (const ConfigError& error) {
    EXPECT_EQ(std::string(error.what()).rfind(broken.string() + ": devices[0].ip", 0), 0u)
        << error.what();
  }

  const auto good = dir.Path() / "good.json";
  std::ofstream(good) << kFullDevice;
  EXPECT_EQ(LoadDeviceFile(good).size(), 1u);
}

}  // namespace oxlo::sim
