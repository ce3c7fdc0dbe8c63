#include "protocol/conversation/firmware_rollout.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace oxlo {
namespace {

using namespace std::chrono_literals;
using Verdict = ComebackWatch::Verdict;

// A device of the inventory; `version` empty: it did not answer the search.
RolloutDevice Device(int number, std::string version = "1.0.0", std::string model = "CG-100") {
  RolloutDevice device;
  device.macBytes = {0x02, 0, 0, 0, 0, static_cast<std::uint8_t>(number)};
  device.mac = "02-00-00-00-00-0" + std::to_string(number);
  if (!version.empty()) {
    DeviceRecord record;
    record.mac = device.mac;
    record.model = std::move(model);
    record.version = std::move(version);
    record.name = "Oxlo-" + std::to_string(number);
    device.found = record;
  }
  return device;
}

std::vector<RolloutDevice> Devices(int count) {
  std::vector<RolloutDevice> devices;
  for (int i = 1; i <= count; ++i) devices.push_back(Device(i));
  return devices;
}

RolloutOptions Options(std::size_t canary, std::size_t parallel, std::size_t maxFailures = 1) {
  RolloutOptions options;
  options.version = "2.0.0";
  options.canary = canary;
  options.parallel = parallel;
  options.maxFailures = maxFailures;
  return options;
}

const RolloutClock::time_point kT0{};

void Upgrade(Rollout& rollout, std::size_t index) {
  rollout.Uploaded(index);
  rollout.Finished(index, RolloutResult::kUpgraded, "", "2.0.0", kT0 + 1s);
}
void Fail(Rollout& rollout, std::size_t index) {
  rollout.Finished(index, RolloutResult::kFailed, "the device refused the end message", "",
                   kT0 + 1s);
}

TEST(Rollout, JudgesEveryDeviceBeforeAnythingIsSent) {
  std::vector<RolloutDevice> devices{Device(1, ""),      Device(2, "1.0.0", "CG-200"),
                                     Device(3, "2.0.0"), Device(4, "1.0.0"),
                                     Device(5, "0.9"),   Device(6, "1.0.0")};
  RolloutOptions options = Options(2, 16);
  options.model = "CG-100";
  Rollout rollout(devices, options);

  struct Expected {
    RolloutResult result;
    bool needsUpgrade, canary;
    const char* reason;
  };
  const Expected expected[] = {
      {RolloutResult::kFailed, false, false, "did not answer the search"},
      // An image for another model is refused, however the rest goes.
      {RolloutResult::kFailed, false, false, "refused: it reports model CG-200, not CG-100"},
      {RolloutResult::kUnchanged, false, false, ""},
      // The canaries are the first that need the image, in inventory order.
      {RolloutResult::kNotStarted, true, true, ""},
      {RolloutResult::kNotStarted, true, true, ""},
      {RolloutResult::kNotStarted, true, false, ""},
  };
  ASSERT_EQ(rollout.Entries().size(), std::size(expected));
  for (std::size_t i = 0; i < std::size(expected); ++i) {
    const Rollout::Entry& e = rollout.At(i);
    EXPECT_EQ(e.result, expected[i].result) << i;
    EXPECT_EQ(e.needsUpgrade, expected[i].needsUpgrade) << i;
    EXPECT_EQ(e.canary, expected[i].canary) << i;
    EXPECT_EQ(e.reason, expected[i].reason) << i;
  }
  EXPECT_EQ(rollout.At(4).versionBefore, "0.9");
  EXPECT_EQ(rollout.Plan(), (std::vector<std::size_t>{3, 4, 5}));

  // --force: a device already at the version gets the image again.
  options.force = true;
  options.canary = 0;
  Rollout forced({Device(3, "2.0.0")}, options);
  EXPECT_TRUE(forced.At(0).needsUpgrade);
  EXPECT_FALSE(forced.At(0).canary);
}

TEST(Rollout, CanariesGoFirstAndAloneThenTheRestWithinTheLimit) {
  Rollout rollout(Devices(6), Options(2, 3));
  EXPECT_EQ(rollout.Plan(), (std::vector<std::size_t>{0, 1, 2, 3, 4, 5}));
  EXPECT_EQ(rollout.Due(kT0), (std::vector<std::size_t>{0, 1}));
  EXPECT_TRUE(rollout.Due(kT0).empty());
  Upgrade(rollout, 0);
  // One canary still runs: no other device starts, room or not.
  EXPECT_TRUE(rollout.Due(kT0).empty());
  Upgrade(rollout, 1);
  EXPECT_EQ(rollout.Due(kT0), (std::vector<std::size_t>{2, 3, 4}));
  EXPECT_TRUE(rollout.Due(kT0).empty());
  Upgrade(rollout, 3);
  EXPECT_EQ(rollout.Due(kT0), (std::vector<std::size_t>{5}));
  EXPECT_FALSE(rollout.Over());
  for (const std::size_t i : {2, 4, 5}) Upgrade(rollout, i);
  EXPECT_TRUE(rollout.Over());
  EXPECT_EQ(rollout.Tally().upgraded, 6u);
  EXPECT_EQ(rollout.At(0).took, 1s);

  // Canary 0: no canary stage at all.
  Rollout plain(Devices(3), Options(0, 16));
  EXPECT_EQ(plain.Due(kT0), (std::vector<std::size_t>{0, 1, 2}));
}

TEST(Rollout, AFailingCanaryLeavesEveryOtherDeviceUntouched) {
  Rollout rollout(Devices(4), Options(2, 16, 5));
  EXPECT_EQ(rollout.Due(kT0), (std::vector<std::size_t>{0, 1}));
  Fail(rollout, 1);
  EXPECT_TRUE(rollout.Due(kT0).empty());
  EXPECT_FALSE(rollout.Over());  // the other canary finishes
  Upgrade(rollout, 0);
  EXPECT_TRUE(rollout.Over());
  for (const std::size_t i : {2, 3}) {
    EXPECT_EQ(rollout.At(i).result, RolloutResult::kNotStarted);
    EXPECT_EQ(rollout.At(i).reason, "canary 02-00-00-00-00-02 failed");
    EXPECT_FALSE(rollout.At(i).started.has_value());
  }
  const Rollout::Summary tally = rollout.Tally();
  EXPECT_EQ(tally.upgraded, 1u);
  EXPECT_EQ(tally.failed, 1u);
  EXPECT_EQ(tally.notStarted, 2u);
}

TEST(Rollout, FailuresAtTheLimitOrAStopEndNewUploadsWhileRunningOnesFinish) {
  Rollout rollout(Devices(6), Options(0, 3, 2));
  EXPECT_EQ(rollout.Due(kT0), (std::vector<std::size_t>{0, 1, 2}));
  Fail(rollout, 0);
  EXPECT_EQ(rollout.Due(kT0), (std::vector<std::size_t>{3}));  // one failure, limit two
  Fail(rollout, 1);
  EXPECT_TRUE(rollout.Due(kT0).empty());
  EXPECT_EQ(rollout.At(4).result, RolloutResult::kNotStarted);
  EXPECT_EQ(rollout.At(4).reason, "stopped after 2 failures");
  EXPECT_FALSE(rollout.Over());
  Upgrade(rollout, 2);
  Upgrade(rollout, 3);
  EXPECT_TRUE(rollout.Over());

  Rollout stopped(Devices(3), Options(0, 1));
  EXPECT_EQ(stopped.Due(kT0), (std::vector<std::size_t>{0}));
  stopped.Stop();
  EXPECT_TRUE(stopped.Due(kT0).empty());
  EXPECT_EQ(stopped.At(1).reason, "stopped by the operator");
  Upgrade(stopped, 0);
  EXPECT_TRUE(stopped.Over());
  EXPECT_EQ(stopped.At(0).result, RolloutResult::kUpgraded);

  // Only a running device has a verdict to give.
  EXPECT_THROW(stopped.Finished(1, RolloutResult::kUpgraded, "", "", kT0), std::logic_error);
}

TEST(ComebackWatch, TellsTheNewVersionFromTheOldFirmwareStillRunningAndFromNoComeback) {
  struct Reply {
    std::chrono::milliseconds at;
    const char* version;
  };
  struct Case {
    const char* what;
    std::vector<Reply> replies;
    std::chrono::milliseconds backWithin;
    std::chrono::milliseconds tickAt;
    Verdict verdict;
    const char* reason;
  };
  const Case cases[] = {
      {"back with the new version",
       {{300ms, "1.0.0"}, {4000ms, "2.0.0"}},
       180s,
       4000ms,
       Verdict::kConfirmed,
       ""},
      // The old firmware answers before it restarts: no verdict yet.
      {"old firmware before the restart",
       {{300ms, "1.0.0"}, {800ms, "1.0.0"}},
       180s,
       1000ms,
       Verdict::kWaiting,
       ""},
      {"quiet, then back with the old version",
       {{300ms, "1.0.0"}, {3000ms, "1.0.0"}},
       180s,
       3000ms,
       Verdict::kOtherVersion,
       "came back with version 1.0.0"},
      {"never quiet, still the old version at the deadline",
       {{500ms, "1.0.0"}, {1000ms, "1.0.0"}, {1500ms, "1.0.0"}, {2000ms, "1.0.0"}},
       2500ms,
       2500ms,
       Verdict::kOtherVersion,
       "came back with version 1.0.0"},
      {"no reply at all",
       {},
       2500ms,
       2500ms,
       Verdict::kNotBack,
       "did not come back within 2500 ms"},
      {"quiet after the old version and never back",
       {{200ms, "1.0.0"}},
       2500ms,
       2500ms,
       Verdict::kNotBack,
       "did not come back within 2500 ms"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ComebackWatch watch("2.0.0", kT0, c.backWithin);
    for (const Reply& r : c.replies) watch.OnReply(r.version, kT0 + r.at);
    EXPECT_EQ(watch.OnTick(kT0 + c.tickAt), c.verdict);
    EXPECT_EQ(watch.Reason(), c.reason);
  }

  // The verdict stands whatever comes later.
  ComebackWatch watch("2.0.0", kT0, 180s);
  EXPECT_EQ(watch.OnReply("2.0.0", kT0 + 5s), Verdict::kConfirmed);
  EXPECT_EQ(watch.OnReply("1.0.0", kT0 + 9s), Verdict::kConfirmed);
  EXPECT_EQ(watch.OnTick(kT0 + 200s), Verdict::kConfirmed);
  EXPECT_EQ(watch.VersionSeen(), "2.0.0");
  EXPECT_EQ(ComebackWatch("2.0.0", kT0).OnTick(kT0 + 180s), Verdict::kNotBack);
  ComebackWatch minutes("2.0.0", kT0);
  minutes.OnTick(kT0 + 180s);
  EXPECT_EQ(minutes.Reason(), "did not come back within 180 s");
}

}  // namespace
}  // namespace oxlo
