// The settings conversation with one device, driven on a virtual clock
// against a small device: the pacing of what goes, the rounds that ask
// again, and each way a write can end.
#include "protocol/conversation/device_exchange.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <functional>
#include <map>
#include <set>
#include <stdexcept>

#include "protocol/wire/can_messages.h"
#include "protocol/wire/device_side.h"
#include "protocol/wire/frame.h"
#include "protocol/wire/settings_messages.h"
#include "tests/support/sample_settings.h"

namespace oxlo {
namespace {

using std::chrono::milliseconds;
using testing::kMac;
using testing::RepliesOf;
using testing::SampleSettings;
using Time = DeviceExchange::Time;
using Result = DeviceExchange::Result;

// Answers reads from what it stores; stores settings messages; runs what it
// stores once the apply command comes, and shows that in its discovery reply.
struct Device {
  DeviceSettings stored = SampleSettings();
  DeviceSettings running = SampleSettings();
  std::set<std::uint8_t> silentCodes;  // read requests it never answers
  int silentRounds = 0;                // ... or only after this many asks
  bool acknowledges = true;
  bool appliesOnCommand = true;  // false: stores, acknowledges, runs the old
  bool storesCan = true;
  bool answersDiscovery = true;
  std::map<std::uint8_t, int> asked;

  std::vector<Bytes> Handle(ByteView message) {
    const std::uint8_t c = message[kCodeOffset];
    if (message.size() == kShortCommandSize) {
      if (c == code::kApply) {
        if (appliesOnCommand) running = stored;
        if (acknowledges) return {BuildApplyAck(kMac)};
        return {};
      }
      if (++asked[c] <= silentRounds || silentCodes.count(c) != 0) return {};
      for (int k = 0; k < kReadRequestKindCount; ++k) {
        const auto kind = static_cast<ReadRequestKind>(k);
        if (RequestCode(kind) == c)
          return {RepliesOf(kMac, stored).at(static_cast<std::size_t>(k))};
      }
      return {};
    }
    if (c == code::kDiscovery) {
      if (!answersDiscovery) return {};
      DeviceIdentity shown;
      shown.mac = kMac;
      shown.ip = running.network.address;
      shown.name = running.network.name;
      return {BuildDiscoveryReply(shown)};
    }
    if (c == code::kNetwork) {
      stored.network = *ParseNetworkReply(message).Complete();
    } else if (c == code::kOpMode) {
      stored.port = *ParseOpModeReply(message).Complete();
    } else if (c == code::kCan) {
      if (storesCan) stored.can = *ParseCanSettings(message);
    } else if (const auto group = ParseFilterGroup(message)) {
      for (std::size_t s = 0; s < group->slots.size(); ++s) {
        stored.filters.entries[static_cast<std::size_t>(group->group) * kSlotsPerGroup + s] =
            group->slots[s];
      }
    }
    return {};
  }
};

struct Sent {
  milliseconds at;
  std::uint8_t code;
  Outgoing::Forget forget;
};

// Runs the exchange to its end; the device answers at once.
std::vector<Sent> Drive(DeviceExchange& exchange, Device& device, milliseconds* endedAt = nullptr) {
  const Time start{};
  Time now = start;
  std::vector<Sent> sent;
  std::deque<Bytes> inbox;
  exchange.Start(now);
  for (int guard = 0; !exchange.Done() && guard < 100000; ++guard) {
    while (std::optional<Outgoing> out = exchange.Poll(now)) {
      if (out->forget == Outgoing::Forget::kEverything) inbox.clear();
      if (out->forget == Outgoing::Forget::kCode) {
        std::erase_if(inbox, [&](const Bytes& d) { return d[kCodeOffset] == out->forgetCode; });
      }
      sent.push_back({std::chrono::duration_cast<milliseconds>(now - start),
                      out->message[kCodeOffset], out->forget});
      for (Bytes& reply : device.Handle(out->message)) inbox.push_back(std::move(reply));
    }
    if (!inbox.empty()) {
      exchange.OnDatagram(inbox.front(), now);
      inbox.pop_front();
      continue;
    }
    if (exchange.WakeAt() == Time::max()) break;
    now = std::max(now, exchange.WakeAt());
  }
  if (endedAt != nullptr) *endedAt = std::chrono::duration_cast<milliseconds>(now - start);
  return sent;
}

std::vector<std::uint8_t> Codes(const std::vector<Sent>& sent) {
  std::vector<std::uint8_t> codes;
  for (const Sent& s : sent) codes.push_back(s.code);
  return codes;
}

const std::vector<std::uint8_t> kElevenRequests{'N', 'O', 'C', 1, 2, 3, 4, 5, 6, 7, 8};

ExchangeTiming Timing() {
  ExchangeTiming timing;
  timing.readRound = milliseconds(500);
  timing.ack = milliseconds(5000);
  return timing;
}

TEST(DeviceExchangeRead, ElevenRequestsWithTheDevicesPausesThenWhatItHolds) {
  Device device;
  DeviceExchange read = DeviceExchange::Read(kMac, Timing());
  const std::vector<Sent> sent = Drive(read, device);
  EXPECT_EQ(Codes(sent), kElevenRequests);
  std::vector<long> at;
  for (const Sent& s : sent) at.push_back(static_cast<long>(s.at.count()));
  EXPECT_EQ(at, (std::vector<long>{0, 10, 20, 20, 40, 60, 80, 100, 120, 140, 160}));
  EXPECT_EQ(read.Outcome(), Result::kRead);
  EXPECT_EQ(read.Held(), SampleSettings());
  EXPECT_FALSE(read.Written());
}

TEST(DeviceExchangeRead, AsksAgainOnlyForWhatIsMissingAndNamesWhatNeverCame) {
  struct Case {
    const char* what;
    std::set<std::uint8_t> silent;
    int silentRounds;
    Result result;
    std::vector<std::uint8_t> codes;
    std::vector<std::string> missing;
    bool anyReply;
  };
  std::vector<std::uint8_t> twice = kElevenRequests;
  twice.insert(twice.end(), kElevenRequests.begin(), kElevenRequests.end());
  const Case cases[] = {
      {"the first round lost", {}, 1, Result::kRead, twice, {}, true},
      {"CAN and group 3 never",
       {'C', 3},
       0,
       Result::kReadIncomplete,
       {'N', 'O', 'C', 1, 2, 3, 4, 5, 6, 7, 8, 'C', 3, 'C', 3, 'C', 3},
       {"CAN settings", "filter group 3"},
       true},
      {"silent",
       {'N', 'O', 'C', 1, 2, 3, 4, 5, 6, 7, 8},
       0,
       Result::kReadIncomplete,
       {},
       {},
       false},
  };
  for (const Case& c : cases) {
    Device device;
    device.silentCodes = c.silent;
    device.silentRounds = c.silentRounds;
    DeviceExchange read = DeviceExchange::Read(kMac, Timing());
    milliseconds ended{};
    const std::vector<Sent> sent = Drive(read, device, &ended);
    EXPECT_EQ(read.Outcome(), c.result) << c.what;
    if (!c.codes.empty()) {
      EXPECT_EQ(Codes(sent), c.codes) << c.what;
    }
    if (c.result == Result::kReadIncomplete) {
      EXPECT_EQ(read.AnyReadReply(), c.anyReply) << c.what;
      if (c.anyReply) {
        EXPECT_EQ(read.Missing(), c.missing) << c.what;
      }
      // Four rounds, each waited out after its last request and pause.
      EXPECT_GE(ended, milliseconds(4 * 500)) << c.what;
      EXPECT_LT(ended, milliseconds(4 * 500 + 4 * 200)) << c.what;
    }
  }
}

TEST(DeviceExchangeRead, UnpacedReadsGoAtOnce) {
  Device device;
  ExchangeTiming timing = Timing();
  timing.pacedReads = false;
  DeviceExchange read = DeviceExchange::Read(kMac, timing);
  for (const Sent& s : Drive(read, device)) EXPECT_EQ(s.at, milliseconds(0));
}

DeviceSettings Changed() {
  DeviceSettings wanted = SampleSettings();
  wanted.can.id = "00000ABC";
  wanted.filters.entries[9].id = "000000AA";  // group 3 (code 3)
  return wanted;
}

TEST(DeviceExchangeChange, WritesOnlyWhatDiffersThenAppliesAndReadsBack) {
  Device device;
  DeviceExchange change = DeviceExchange::Change(
      kMac, [](const DeviceSettings& held) { return PlanChange(kMac, held, Changed()); }, Timing());
  const std::vector<Sent> sent = Drive(change, device);
  std::vector<std::uint8_t> codes = kElevenRequests;
  codes.insert(codes.end(), {'C', 3, 'A'});
  codes.insert(codes.end(), kElevenRequests.begin(), kElevenRequests.end());
  EXPECT_EQ(Codes(sent), codes);
  ASSERT_EQ(change.Outcome(), Result::kVerified);
  EXPECT_TRUE(change.Written());
  EXPECT_EQ(change.HeldBefore(), SampleSettings());
  EXPECT_EQ(change.Held(), Changed());
  ASSERT_EQ(change.Sent().size(), 2u);
  // The filter group waits its pace after the CAN message; the apply command follows at once.
  EXPECT_EQ(sent[12].at - sent[11].at, kFilterGroupPace);
  EXPECT_EQ(sent[13].at, sent[12].at);
  // Only an acknowledgement after the apply command counts, and only
  // replies after the read-back asked.
  EXPECT_EQ(sent[13].forget, Outgoing::Forget::kCode);
  EXPECT_EQ(sent[14].forget, Outgoing::Forget::kEverything);
}

TEST(DeviceExchangeChange, EachWayAWriteEnds) {
  struct Case {
    const char* what;
    std::function<void(Device&)> device;
    std::function<DeviceSettings()> wanted;
    Result result;
    std::vector<std::string> parts;
  };
  const auto renamed = [] {
    DeviceSettings wanted = SampleSettings();
    wanted.network.name = "Presse Nord";
    return wanted;
  };
  const Case cases[] = {
      {"nothing differs", [](Device&) {}, SampleSettings, Result::kRead, {}},
      {"CAN not stored",
       [](Device& d) { d.storesCan = false; },
       Changed,
       Result::kNotTaken,
       {"CAN settings"}},
      {"no acknowledgement",
       [](Device& d) { d.acknowledges = false; },
       Changed,
       Result::kNotAcknowledged,
       {}},
      {"renamed and running it", [](Device&) {}, renamed, Result::kVerified, {}},
      {"renamed, stored only",
       [](Device& d) { d.appliesOnCommand = false; },
       renamed,
       Result::kNotInUse,
       {"name"}},
      {"renamed, no discovery reply",
       [](Device& d) { d.answersDiscovery = false; },
       renamed,
       Result::kNotShown,
       {}},
  };
  for (const Case& c : cases) {
    Device device;
    c.device(device);
    const DeviceSettings wanted = c.wanted();
    DeviceExchange change = DeviceExchange::Change(
        kMac, [&](const DeviceSettings& held) { return PlanChange(kMac, held, wanted); }, Timing());
    milliseconds ended{};
    const std::vector<Sent> sent = Drive(change, device, &ended);
    EXPECT_EQ(change.Outcome(), c.result) << c.what;
    const std::vector<std::string>& parts =
        c.result == Result::kNotInUse ? change.NotInUse() : change.NotTaken();
    EXPECT_EQ(parts, c.parts) << c.what;
    EXPECT_EQ(change.Written(), c.result != Result::kRead) << c.what;
    if (c.result == Result::kNotAcknowledged) {
      EXPECT_EQ(ended - sent.back().at, milliseconds(5000)) << c.what;
    }
    if (c.result == Result::kNotShown) {
      const std::vector<std::uint8_t> codes = Codes(sent);
      EXPECT_EQ(std::count(codes.begin(), codes.end(), code::kDiscovery), 4) << c.what;
    }
  }
}

TEST(DeviceExchangeChange, APlannerThatRefusesEndsItBeforeAnythingIsWritten) {
  Device device;
  DeviceExchange change = DeviceExchange::Change(
      kMac, [](const DeviceSettings&) -> WritePlan { throw std::invalid_argument("no"); },
      Timing());
  EXPECT_EQ(Codes(Drive(change, device)), kElevenRequests);
  EXPECT_EQ(change.Outcome(), Result::kRefused);
  EXPECT_THROW(std::rethrow_exception(change.Error()), std::invalid_argument);
}

TEST(DeviceExchangeWrite, AGivenLimitEndsTheReadBackWhateverTheRounds) {
  Device device;
  device.silentCodes = {'C'};
  ExchangeTiming timing = Timing();
  timing.readRound = milliseconds(1000);
  timing.confirmLimit = milliseconds(5000);
  DeviceExchange write = DeviceExchange::Write(kMac, PlanWholeWrite(kMac, Changed()), timing);
  milliseconds ended{};
  const std::vector<Sent> sent = Drive(write, device, &ended);
  EXPECT_EQ(write.Outcome(), Result::kReadBackIncomplete);
  EXPECT_EQ(write.Missing(), std::vector<std::string>{"CAN settings"});
  // The first read-back round ends 160 ms after the acknowledgement, plus its last pause.
  const auto ack =
      std::find_if(sent.begin(), sent.end(), [](const Sent& s) { return s.code == code::kApply; });
  ASSERT_NE(ack, sent.end());
  EXPECT_EQ(ended - ack->at, milliseconds(180 + 5000));
}

TEST(DeviceExchangeWrite, CancelStopsEverySend) {
  Device device;
  DeviceExchange write = DeviceExchange::Write(kMac, PlanWholeWrite(kMac, Changed()), Timing());
  write.Start(Time{});
  ASSERT_TRUE(write.Poll(Time{}));
  write.Cancel();
  EXPECT_FALSE(write.Poll(Time{} + std::chrono::hours(1)));
  EXPECT_EQ(write.Outcome(), Result::kCancelled);
  EXPECT_EQ(write.WakeAt(), Time::max());
}

}  // namespace
}  // namespace oxlo
