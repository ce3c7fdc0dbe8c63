// What oxlo fleet firmware prints of a rollout: the plan of a dry run and
// the results, as a table with device texts escaped and as the JSON report.
#include "cli/fleet_firmware.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "protocol/wire/fields.h"

namespace oxlo::cli {
namespace {

using std::chrono::milliseconds;

RolloutDevice Device(int n, std::optional<std::string> model, std::string version = "1.0.0",
                     std::string name = "") {
  RolloutDevice device;
  device.macBytes = {0x02, 0, 0, 0, 0, static_cast<std::uint8_t>(n)};
  device.mac = MacToText(device.macBytes);
  if (model) {
    DeviceRecord record;
    record.mac = device.mac;
    record.model = *model;
    record.version = std::move(version);
    record.name = name.empty() ? "Line " + std::to_string(n) : std::move(name);
    device.found = record;
  }
  return device;
}

// A canary whose name would clear the screen, one at the version already,
// one of another model, one that did not answer, one back with an old
// version that reports it in Latin-1, and one left when that failure
// stopped the rollout.
Rollout Plant() {
  RolloutOptions options;
  options.version = "2.0.0";
  options.model = "Oxlo CG-100";
  options.parallel = 1;
  return Rollout(
      {Device(1, "Oxlo CG-100", "1.0.0", "Press\x1b[2J"), Device(2, "Oxlo CG-100", "2.0.0"),
       Device(3, "Oxlo CG-200"), Device(4, std::nullopt), Device(5, "Oxlo CG-100", "0.9\xB5"),
       Device(6, "Oxlo CG-100")},
      options);
}

TEST(FleetFirmwareReport, ResultsAsTheTableAndTheJsonDocument) {
  Rollout rollout = Plant();
  const RolloutClock::time_point t0{};
  ASSERT_EQ(rollout.Due(t0), std::vector<std::size_t>{0});
  rollout.Uploaded(0);
  rollout.Finished(0, RolloutResult::kUpgraded, "", "2.0.0", t0 + milliseconds(12340));
  ASSERT_EQ(rollout.Due(t0 + milliseconds(12340)), std::vector<std::size_t>{4});
  rollout.Uploaded(4);
  rollout.Finished(4, RolloutResult::kFailed, "came back with version 0.9\xB5", "0.9\xB5",
                   t0 + milliseconds(14380));
  ASSERT_TRUE(rollout.Over());

  EXPECT_EQ(RolloutReport(rollout), Document::parse(R"({
    "devices": [
      {"mac": "02-00-00-00-00-01", "name": "Press\u001b[2J", "model": "Oxlo CG-100",
       "version_before": "1.0.0", "version_after": "2.0.0", "result": "upgraded",
       "reason": null, "seconds": 12.3},
      {"mac": "02-00-00-00-00-02", "name": "Line 2", "model": "Oxlo CG-100",
       "version_before": "2.0.0", "version_after": "2.0.0", "result": "unchanged",
       "reason": null, "seconds": null},
      {"mac": "02-00-00-00-00-03", "name": "Line 3", "model": "Oxlo CG-200",
       "version_before": "1.0.0", "version_after": "1.0.0", "result": "failed",
       "reason": "refused: it reports model Oxlo CG-200, not Oxlo CG-100", "seconds": null},
      {"mac": "02-00-00-00-00-04", "name": null, "model": null, "version_before": null,
       "version_after": null, "result": "failed", "reason": "did not answer the search",
       "seconds": null},
      {"mac": "02-00-00-00-00-05", "name": "Line 5", "model": "Oxlo CG-100",
       "version_before": "0.9\u00b5", "version_after": "0.9\u00b5", "result": "failed",
       "reason": "came back with version 0.9\u00b5", "seconds": 2.0},
      {"mac": "02-00-00-00-00-06", "name": "Line 6", "model": "Oxlo CG-100",
       "version_before": "1.0.0", "version_after": "1.0.0", "result": "not_started",
       "reason": "stopped after 1 failure", "seconds": null}],
    "summary": {"upgraded": 1, "unchanged": 1, "failed": 3, "not_started": 1}})"));

  std::ostringstream out;
  PrintRolloutTable(out, rollout);
  // Columns line up by characters: the Latin-1 version reads as UTF-8 "µ".
  EXPECT_EQ(
      out.str(),
      R"(MAC                NAME          BEFORE  AFTER  RESULT       REASON                                                  SECONDS
02-00-00-00-00-01  Press\x1b[2J  1.0.0   2.0.0  upgraded                                                             12.3
02-00-00-00-00-02  Line 2        2.0.0   2.0.0  unchanged                                                            -
02-00-00-00-00-03  Line 3        1.0.0   1.0.0  failed       refused: it reports model Oxlo CG-200, not Oxlo CG-100  -
02-00-00-00-00-04                               failed       did not answer the search                               -
02-00-00-00-00-05  Line 5        0.9µ    0.9µ   failed       came back with version 0.9µ                             2.0
02-00-00-00-00-06  Line 6        1.0.0   1.0.0  not_started  stopped after 1 failure                                 -
6 devices: 1 upgraded, 1 unchanged, 3 failed, 1 not started
)");
}

TEST(FleetFirmwareReport, ADryRunShowsThePlanCanariesFirst) {
  RolloutOptions options;
  options.version = "2.0.0";
  options.canary = 1;
  options.parallel = 16;
  // The canary is the first device to upgrade in the inventory's order.
  const Rollout rollout({Device(1, "Oxlo CG-100", "2.0.0"), Device(2, "Oxlo CG-200"),
                         Device(3, std::nullopt), Device(4, "Oxlo CG-100", "1.9.9")},
                        options);
  const Document report = RolloutReport(rollout, true);
  const struct {
    const char* result;
    bool canary;
    Document order;
    Document after;
  } want[] = {{"unchanged", false, nullptr, "2.0.0"},
              {"would_upgrade", true, 1, "2.0.0"},
              {"failed", false, nullptr, nullptr},
              {"would_upgrade", false, 2, "2.0.0"}};
  ASSERT_EQ(report["devices"].size(), 4u);
  for (std::size_t i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    const Document& d = report["devices"][i];
    EXPECT_EQ(d["result"], want[i].result);
    EXPECT_EQ(d["canary"], want[i].canary);
    EXPECT_EQ(d["order"], want[i].order);
    EXPECT_EQ(d["version_after"], want[i].after);
    EXPECT_EQ(d["seconds"], nullptr);
  }
  EXPECT_EQ(report["summary"], Document::parse(R"({"upgraded": 0, "unchanged": 1, "failed": 1,
                                                  "not_started": 0, "would_upgrade": 2})"));

  std::ostringstream out;
  PrintRolloutTable(out, rollout, true);
  EXPECT_EQ(out.str(),
            "ORDER  MAC                NAME    BEFORE  AFTER  RESULT         REASON\n"
            "-      02-00-00-00-00-01  Line 1  2.0.0   2.0.0  unchanged      \n"
            "1      02-00-00-00-00-02  Line 2  1.0.0   2.0.0  would_upgrade  canary\n"
            "-      02-00-00-00-00-03                         failed         did not answer "
            "the search\n"
            "2      02-00-00-00-00-04  Line 4  1.9.9   2.0.0  would_upgrade  \n"
            "4 devices: 2 would upgrade to 2.0.0 (1 canary first, 16 at once, stop after 1 "
            "failure), 1 unchanged, 1 failed\n");
}

// A device of the inventory is found by its MAC; one that did not answer has none.
TEST(FleetFirmwareReport, EachDeviceGetsTheSearchReplyOfItsMac) {
  std::vector<FleetDevice> inventory(2);
  inventory[0].mac = "02-00-00-00-00-07";
  inventory[1].mac = "02-00-00-00-00-08";
  SeenDevice other;
  other.record.mac = "02-00-00-00-00-09";
  SeenDevice first;
  first.record.mac = "02-00-00-00-00-08";
  first.record.name = "first";
  SeenDevice second = first;
  second.record.name = "on another adapter";
  const std::vector<RolloutDevice> devices = RolloutDevices(inventory, {other, first, second});
  ASSERT_EQ(devices.size(), 2u);
  EXPECT_FALSE(devices[0].found);
  ASSERT_TRUE(devices[1].found);
  EXPECT_EQ(devices[1].found->name, "first");
}

}  // namespace
}  // namespace oxlo::cli
