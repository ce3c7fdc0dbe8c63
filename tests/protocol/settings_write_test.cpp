// Which messages a settings write sends, with which pauses, and the wait for
// the acknowledgement of the apply command.
#include "protocol/conversation/settings_write.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "protocol/wire/device_side.h"
#include "protocol/wire/frame.h"
#include "tests/support/sample_settings.h"

namespace oxlo {
namespace {

using std::chrono::milliseconds;
using testing::kMac;
using testing::SampleSettings;

constexpr MacField kOtherMac{0x02, 0x00, 0x00, 0x00, 0x00, 0x09};

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

// Only what would reach the device differently goes: the same value in
// another spelling sends nothing.
TEST(PlanChangedWrite, SendsEachGroupWhoseMessageDiffersAndNothingElse) {
  const WriteStep network{SettingGroup::kNetwork}, port{SettingGroup::kOperationMode},
      can{SettingGroup::kCan};
  const auto group = [](int g) { return WriteStep{SettingGroup::kFilters, g, milliseconds(7)}; };
  struct Case {
    const char* what;
    std::function<void(DeviceSettings&)> change;
    std::vector<WriteStep> steps;
  };
  const Case cases[] = {
      {"nothing", [](DeviceSettings&) {}, {}},
      {"the CAN identifier with leading zeros", [](DeviceSettings& s) { s.can.mask = "ABCD"; }, {}},
      {"the port count, which always goes as one",
       [](DeviceSettings& s) { s.network.portCount = 3; },
       {}},
      {"the local port", [](DeviceSettings& s) { s.port.localPort = 4001; }, {port}},
      {"name and bit rate",
       [](DeviceSettings& s) {
         s.network.name = "Halle 3";
         s.can.baudIndex = 5;
       },
       {network, can}},
      {"two filter slots in groups 3 and 8",
       [](DeviceSettings& s) {
         s.filters.Slot(2, 1).id = "1FF";
         s.filters.Slot(7, 3).type = 0;
       },
       {group(2), group(7)}},
  };
  for (const Case& c : cases) {
    DeviceSettings wanted = SampleSettings();
    c.change(wanted);
    EXPECT_EQ(PlanChangedWrite(kMac, SampleSettings(), wanted, milliseconds(7)), c.steps) << c.what;
  }
}

TEST(SettingsMessages, AddressTheGivenDeviceInTheOrderItTakesThem) {
  DeviceSettings settings = SampleSettings();
  settings.network.portCount = 3;  // the message always says one
  const std::vector<Bytes> messages = SettingsMessages(kOtherMac, settings);
  const std::vector<std::pair<std::uint8_t, std::size_t>> expected = {
      {code::kNetwork, kNetworkMessageSize},
      {code::kOpMode, kOpModeMessageSize},
      {code::kCan, kCanSettingsSize},
      {0x01, kFilterGroupSize},
      {0x02, kFilterGroupSize},
      {0x03, kFilterGroupSize},
      {0x04, kFilterGroupSize},
      {0x05, kFilterGroupSize},
      {0x06, kFilterGroupSize},
      {0x07, kFilterGroupSize},
      {0x08, kFilterGroupSize}};
  ASSERT_EQ(messages.size(), expected.size());
  for (std::size_t i = 0; i < messages.size(); ++i) {
    EXPECT_EQ(messages[i][kCodeOffset], expected[i].first) << i;
    EXPECT_EQ(messages[i].size(), expected[i].second) << i;
    EXPECT_EQ(MacOf(messages[i]), kOtherMac) << i;
  }
  EXPECT_EQ(messages[0][78], 1);
  EXPECT_EQ(messages[0][79], 0x5A);
  EXPECT_EQ(ParseFilterGroup(messages[5])->slots[2], settings.filters.entries[10]);
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

// What a device holds after a write, read back, against what was sent.
TEST(PartsNotTaken, NamesEachPartTheDeviceDoesNotHoldAsSent) {
  const DeviceSettings sent = SampleSettings();
  struct Case {
    const char* what;
    std::function<void(DeviceSettings&)> device;
    std::vector<std::string> notTaken;
  };
  const Case cases[] = {
      {"took everything", [](DeviceSettings&) {}, {}},
      {"holds the identifiers with other spellings",
       [](DeviceSettings& d) {
         d.can.mask = "abcd";
         d.filters.entries[5].id = "53";
       },
       {}},
      {"kept its old name",
       [](DeviceSettings& d) { d.network.name = "Oxlo-1"; },
       {"network settings"}},
      {"missed the CAN message and two filter groups",
       [](DeviceSettings& d) {
         d.can.baudIndex = 0;
         d.filters.entries[8].type = 0;   // group 3
         d.filters.entries[31].type = 0;  // group 8
         d.filters.entries[30].type = 0;
       },
       {"CAN settings", "filter group 3", "filter group 8"}},
      {"another operation mode",
       [](DeviceSettings& d) { d.port.localPort = 1; },
       {"operation mode"}},
  };
  const std::vector<SentStep> steps = BuildSentSteps(
      kMac, sent, PlanSettingsWrite({true, true, true, true}, /*wholeFilterTable=*/true));
  ASSERT_EQ(steps.size(), 11u);
  for (const Case& c : cases) {
    DeviceSettings held = sent;
    c.device(held);
    EXPECT_EQ(PartsNotTaken(kMac, steps, held), c.notTaken) << c.what;
  }
  // Only what was sent is compared: a write of the network settings alone
  // says nothing of the filters.
  DeviceSettings held = sent;
  held.filters.entries[0].type = 2;
  const std::vector<SentStep> networkOnly =
      BuildSentSteps(kMac, sent, PlanSettingsWrite({true, false, false, false}, false));
  EXPECT_TRUE(PartsNotTaken(kMac, networkOnly, held).empty());
}

}  // namespace
}  // namespace oxlo

namespace oxlo {
namespace {

// A lost apply command shows only in the discovery reply: the name and the
// static address in use.
TEST(PartsNotInUse, ComparesTheNameAndAStaticAddressWithTheDiscoveryReply) {
  NetworkSettings written;
  written.networkType = 0;
  written.address = {10, 57, 0, 120};
  written.name = "Hall 2";
  DeviceRecord shown;
  shown.name = "Hall 2";
  shown.ip = "10.57.0.120";
  struct Case {
    const char* what;
    std::function<void(NetworkSettings&, DeviceRecord&)> change;
    std::vector<std::string> notInUse;
  };
  const Case cases[] = {
      {"in use", [](NetworkSettings&, DeviceRecord&) {}, {}},
      {"old name", [](NetworkSettings&, DeviceRecord& d) { d.name = "Hall 1"; }, {"name"}},
      {"old address",
       [](NetworkSettings&, DeviceRecord& d) { d.ip = "10.57.0.101"; },
       {"IP address"}},
      {"both old",
       [](NetworkSettings&, DeviceRecord& d) {
         d.name = "Hall 1";
         d.ip = "10.57.0.101";
       },
       {"name", "IP address"}},
      {"DHCP: the address is the server's",
       [](NetworkSettings& n, DeviceRecord& d) {
         n.networkType = 1;
         d.ip = "10.57.0.33";
       },
       {}},
      // The reply's field holds 32 bytes: a longer name comes back cut.
      {"long name",
       [](NetworkSettings& n, DeviceRecord& d) {
         n.name = std::string(40, 'x');
         d.name = std::string(32, 'x');
       },
       {}},
  };
  for (const Case& c : cases) {
    NetworkSettings n = written;
    DeviceRecord d = shown;
    c.change(n, d);
    EXPECT_EQ(PartsNotInUse(n, d), c.notInUse) << c.what;
  }
}

TEST(ChangesWhatIsShown, OnlyTheNameOrAStaticAddress) {
  NetworkSettings held;
  held.address = {10, 57, 0, 101};
  held.name = "Hall 1";
  NetworkSettings other = held;
  other.dns = {10, 57, 0, 9};
  EXPECT_FALSE(ChangesWhatIsShown(held, other));
  NetworkSettings renamed = held;
  renamed.name = "Hall 2";
  EXPECT_TRUE(ChangesWhatIsShown(held, renamed));
  NetworkSettings moved = held;
  moved.address = {10, 57, 0, 102};
  EXPECT_TRUE(ChangesWhatIsShown(held, moved));
  NetworkSettings dhcp = moved;
  dhcp.networkType = 1;
  EXPECT_FALSE(ChangesWhatIsShown(held, dhcp));
  EXPECT_TRUE(ChangesWhatIsShown(dhcp, held));
}

}  // namespace
}  // namespace oxlo
