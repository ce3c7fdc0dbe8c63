// Which messages a settings write sends, with which pauses, and the wait for
// the acknowledgement of the apply command.
#include "protocol/settings_write.h"

#include <gtest/gtest.h>

#include "protocol/device_side.h"
#include "tests/support/sample_settings.h"

namespace oxlo {
namespace {

using std::chrono::milliseconds;
using testing::kMac;
using testing::SampleSettings;

TEST(PlanSettingsWrite, ChangedGroupsInDeviceOrderAndTheWholeTablePaced) {
  const WriteStep network{SettingGroup::kNetwork}, port{SettingGroup::kOperationMode},
      can{SettingGroup::kCan}, shown{SettingGroup::kFilters};
  struct Case {
    ChangedGroups changed;
    bool wholeTable;
    std::vector<WriteStep> steps;
  };
  const Case cases[] = {
      {{false, false, false, false}, true, {}},
      {{true, false, false, false}, false, {network}},
      {{false, true, true, false}, true, {port, can}},
      {{true, true, true, true}, false, {network, port, can, shown}},
      {{false, false, false, true},
       true,
       {{SettingGroup::kFilters, 0, milliseconds(7)},
        {SettingGroup::kFilters, 1, milliseconds(7)},
        {SettingGroup::kFilters, 2, milliseconds(7)},
        {SettingGroup::kFilters, 3, milliseconds(7)},
        {SettingGroup::kFilters, 4, milliseconds(7)},
        {SettingGroup::kFilters, 5, milliseconds(7)},
        {SettingGroup::kFilters, 6, milliseconds(7)},
        {SettingGroup::kFilters, 7, milliseconds(7)}}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(PlanSettingsWrite(c.changed, c.wholeTable, milliseconds(7)), c.steps)
        << c.steps.size();
  }
  EXPECT_EQ(PlanSettingsWrite({true, true, true, true}, true).back().pauseBefore, kFilterGroupPace);
}

TEST(BuildWriteStep, WholeSettingsGiveTheDeviceMessagesInPlanOrder) {
  const std::vector<Bytes> messages = SettingsMessages(kMac, SampleSettings());
  ASSERT_EQ(messages.size(), 11u);
  const std::vector<std::uint8_t> codes{'N', 'O', 'C', 1, 2, 3, 4, 5, 6, 7, 8};
  for (std::size_t i = 0; i < messages.size(); ++i) EXPECT_EQ(messages[i][1], codes[i]) << i;
  EXPECT_EQ(messages[0][78], 1);  // one port, whatever the settings say
  EXPECT_THROW(BuildWriteStep(kMac, SampleSettings(), {SettingGroup::kFilters}),
               std::invalid_argument);
}

TEST(AcknowledgementWait, OnlyAnAcknowledgementWhileWaitingCountsAndTheFifthTickLosesIt) {
  AcknowledgementWait wait;
  EXPECT_FALSE(wait.OnReply(ApplyAcknowledgement{}));  // nothing was applied
  EXPECT_EQ(wait.Timeout(), milliseconds(5000));
  wait.Start();
  EXPECT_FALSE(wait.OnReply(CanUnchangedReply{}));
  for (int tick = 1; tick < AcknowledgementWait::kTicks; ++tick)
    EXPECT_FALSE(wait.OnTick()) << tick;
  EXPECT_TRUE(wait.OnReply(ApplyAcknowledgement{}));
  EXPECT_FALSE(wait.Waiting());
  EXPECT_FALSE(wait.OnTick());

  wait.Start();
  for (int tick = 1; tick < AcknowledgementWait::kTicks; ++tick) EXPECT_FALSE(wait.OnTick());
  EXPECT_TRUE(wait.OnTick());
  EXPECT_FALSE(wait.OnReply(ApplyAcknowledgement{}));  // too late
}

}  // namespace
}  // namespace oxlo
