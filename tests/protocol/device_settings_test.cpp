// Gathering a device's replies, and the settings file both ways.
#include "protocol/settings/device_settings.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "protocol/settings/settings_file.h"
#include "protocol/wire/frame.h"
#include "tests/support/sample_settings.h"

namespace oxlo {
namespace {

using testing::kMac;
using testing::RepliesOf;
using testing::SampleSettings;

TEST(SettingsCollector, TakesTheElevenRepliesInAnyOrder) {
  const std::vector<Bytes> replies = RepliesOf(kMac, SampleSettings());
  std::vector<Bytes> reversed(replies.rbegin(), replies.rend());
  std::vector<Bytes> withNoise = replies;
  withNoise.insert(withNoise.begin(), BuildReadRequest(ReadRequestKind::kNetwork, kMac));
  withNoise.insert(withNoise.begin() + 3, BuildApplyAck(kMac));
  withNoise.push_back(replies[0]);  // a duplicate changes nothing
  for (const auto& sequence : {replies, reversed, withNoise}) {
    SettingsCollector collector;
    for (const Bytes& reply : sequence) collector.Take(reply);
    ASSERT_TRUE(collector.Complete());
    EXPECT_EQ(collector.Settings(), SampleSettings());
  }
}

TEST(SettingsCollector, NamesWhatIsMissingOrUnreadable) {
  const std::vector<Bytes> replies = RepliesOf(kMac, SampleSettings());
  Bytes badMode = replies[1];
  badMode[9] = 8;  // no mode has this code
  Bytes shortGroup = replies[5];
  shortGroup.resize(20);
  shortGroup.back() = kEtx;
  struct Case {
    std::vector<std::size_t> sent;  // indices into `replies`; 11: badMode, 12: shortGroup
    std::vector<std::string> missing;
  };
  const std::vector<Case> cases = {
      {{},
       {"network settings", "operation mode", "CAN settings", "filter group 1", "filter group 2",
        "filter group 3", "filter group 4", "filter group 5", "filter group 6", "filter group 7",
        "filter group 8"}},
      {{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}, {"filter group 8"}},
      {{0, 2, 3, 4, 5, 6, 7, 8, 9, 10}, {"operation mode"}},
      {{11, 0, 2, 3, 4, 5, 6, 7, 8, 9, 10}, {"operation mode (unreadable reply)"}},
      {{0, 1, 2, 3, 4, 12, 6, 7, 8, 9, 10}, {"filter group 3 (unreadable reply)"}},
      // A good copy after a bad one still counts.
      {{11, 0, 1, 2, 3, 4, 12, 5, 6, 7, 8, 9, 10}, {}},
  };
  std::vector<Bytes> all = replies;
  all.push_back(badMode);
  all.push_back(shortGroup);
  for (const Case& c : cases) {
    SettingsCollector collector;
    for (std::size_t i : c.sent) collector.Take(all[i]);
    EXPECT_EQ(collector.Missing(), c.missing) << ::testing::PrintToString(c.sent);
    EXPECT_EQ(collector.Complete(), c.missing.empty());
    EXPECT_EQ(collector.AnyReply(), !c.sent.empty());
  }
}

TEST(SettingsCollector, OwnRequestsAreNoReply) {
  SettingsCollector collector;
  for (int k = 0; k < kReadRequestKindCount; ++k) {
    collector.Take(BuildReadRequest(static_cast<ReadRequestKind>(k), kMac));
  }
  EXPECT_FALSE(collector.AnyReply());
  EXPECT_EQ(collector.Missing().size(), static_cast<std::size_t>(kReadRequestKindCount));
}

std::vector<ReadRequestKind> Kinds(const std::vector<ReadStep>& steps) {
  std::vector<ReadRequestKind> kinds;
  for (const ReadStep& step : steps) kinds.push_back(step.kind);
  return kinds;
}

// A device that loses replies: each round asks only for what is still
// missing, with the plan's pauses, and after three asks again nothing more.
TEST(ReadRounds, AskAgainOnlyForWhatIsMissingThreeTimesAtMost) {
  const std::vector<Bytes> replies = RepliesOf(kMac, SampleSettings());
  SettingsCollector collector;
  ReadRounds rounds;
  std::vector<ReadStep> steps = rounds.Next(collector.MissingKinds());
  ASSERT_EQ(steps.size(), kReadPlan.size());
  // The first round loses the CAN reply and filter group 5.
  for (std::size_t i = 0; i < replies.size(); ++i) {
    if (i != 2 && i != 7) collector.Take(replies[i]);
  }
  steps = rounds.Next(collector.MissingKinds());
  EXPECT_EQ(Kinds(steps),
            (std::vector<ReadRequestKind>{ReadRequestKind::kCan, FilterGroupRequest(4)}));
  EXPECT_EQ(steps[1].pauseAfter, kReadPlan[7].pauseAfter);
  // Nothing answers the next two rounds; the third ask again is the last.
  EXPECT_EQ(rounds.Next(collector.MissingKinds()).size(), 2u);
  collector.Take(replies[2]);
  EXPECT_EQ(Kinds(rounds.Next(collector.MissingKinds())),
            std::vector<ReadRequestKind>{FilterGroupRequest(4)});
  EXPECT_FALSE(rounds.RoundsLeft());
  EXPECT_TRUE(rounds.Next(collector.MissingKinds()).empty());
  collector.Take(replies[7]);
  EXPECT_TRUE(collector.Complete());

  // Once complete, a round asks nothing.
  ReadRounds done;
  done.Next({});
  EXPECT_TRUE(done.Next(collector.MissingKinds()).empty());
}

TEST(SettingsFile, RoundTripsWhateverTheLengthPastTheLastFilter) {
  const Bytes file = BuildSettingsFile(kMac, SampleSettings());
  ASSERT_EQ(file.size(), kSettingsFileSize);
  EXPECT_EQ(MacOf(ByteView(file).first(kNetworkMessageSize)), kMac);
  Bytes longer = file;
  longer.resize(500, 0xEE);
  for (const Bytes& f : {file, longer}) EXPECT_EQ(ParseSettingsFile(f), SampleSettings());
}

TEST(SettingsFile, ShortFilesLoseIdentifiersOrAreRefused) {
  const Bytes file = BuildSettingsFile(kMac, SampleSettings());
  const DeviceSettings atMinimum = ParseSettingsFile(ByteView(file).first(kSettingsFileMinSize));
  EXPECT_EQ(atMinimum.network, SampleSettings().network);
  EXPECT_EQ(atMinimum.can, SampleSettings().can);
  for (std::size_t k = 0; k < atMinimum.filters.entries.size(); ++k) {
    EXPECT_EQ(atMinimum.filters.entries[k].type, SampleSettings().filters.entries[k].type);
    EXPECT_EQ(atMinimum.filters.entries[k].id, "");
  }
  for (std::size_t size : {std::size_t{0}, std::size_t{81}, kSettingsFileMinSize - 1}) {
    try {
      ParseSettingsFile(ByteView(file).first(size));
      ADD_FAILURE() << size << " bytes were taken";
    } catch (const SettingsFileError& error) {
      EXPECT_NE(std::string(error.what()).find(std::to_string(size) + " bytes"), std::string::npos)
          << error.what();
    }
  }
}

// A value no list has an entry for is refused with the field and the value,
// before anything decodes (the operation mode's code and port type once
// made their section fail to decode), in a whole file and a shortest one.
TEST(SettingsFile, AValueWithNoEntryIsRefusedNamingFieldAndValue) {
  const Bytes file = BuildSettingsFile(kMac, SampleSettings());
  struct Case {
    std::size_t offset;
    std::uint8_t value;
    const char* names;
  };
  const Case cases[] = {
      {kNetworkSectionOffset + 8, 2, "network type 2"},
      {kOpModeSectionOffset + 9, 8, "operation mode code 8"},
      {kOpModeSectionOffset + 28, 2, "port type 2"},
      {kCanSectionOffset + 8, 10, "CAN bit rate index 10"},
      {kCanSectionOffset + 8, 0xFF, "CAN bit rate index 255"},
      {kCanSectionOffset + 9, 0, "CAN ID format 0"},
      {kFilterSectionOffset + 4, 3, "filter 5 type 3"},
      {kFilterSectionOffset + 31, 0x80, "filter 32 type 128"},
  };
  for (const Case& c : cases) {
    for (const std::size_t size : {kSettingsFileSize, kSettingsFileMinSize}) {
      SCOPED_TRACE(std::string(c.names) + ", " + std::to_string(size) + " bytes");
      Bytes broken(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(size));
      broken[c.offset] = c.value;
      std::string checked;
      try {
        CheckSettingsFileValues(broken);
      } catch (const SettingsFileValueError& error) {
        checked = error.what();
      }
      try {
        ParseSettingsFile(broken);
        ADD_FAILURE() << "taken";
      } catch (const SettingsFileError& error) {
        EXPECT_EQ(error.what(), checked);
        EXPECT_NE(checked.find(std::string("holds ") + c.names + ","), std::string::npos)
            << checked;
      }
    }
  }
}

}  // namespace
}  // namespace oxlo
