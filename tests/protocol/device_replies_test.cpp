// The read plan, and every datagram a device sends turned into one typed reply.
#include "protocol/wire/device_replies.h"

#include <gtest/gtest.h>

#include "protocol/wire/device_side.h"
#include "tests/protocol/test_bytes.h"
#include "tests/support/sample_settings.h"

namespace oxlo {
namespace {

using testing::CutAndClose;
using testing::Hex;
using testing::kMac;
using testing::RepliesOf;
using testing::SampleSettings;

TEST(ReadPlan, ElevenRequestsInKindOrderWithTheirPauses) {
  std::chrono::milliseconds total{0};
  for (std::size_t i = 0; i < kReadPlan.size(); ++i) {
    EXPECT_EQ(static_cast<std::size_t>(kReadPlan[i].kind), i);
    total += kReadPlan[i].pauseAfter;
  }
  EXPECT_EQ(kReadPlan[2].pauseAfter.count(), 0);  // none after the CAN request
  EXPECT_EQ(total.count(), 180);
}

TEST(ParseDeviceReply, EachReplyCodeGivesItsKindAndOthersNothing) {
  const std::vector<Bytes> replies = RepliesOf(kMac, SampleSettings());
  const auto network = ParseDeviceReply(replies[0]);
  ASSERT_TRUE(network && std::holds_alternative<NetworkReply>(*network));
  EXPECT_EQ(std::get<NetworkReply>(*network).Complete()->name, SampleSettings().network.name);
  const auto port = ParseDeviceReply(replies[1]);
  ASSERT_TRUE(port && std::holds_alternative<OpModeReply>(*port));
  EXPECT_EQ(std::get<OpModeReply>(*port).Complete(), SampleSettings().port);
  const auto can = ParseDeviceReply(replies[2]);
  ASSERT_TRUE(can && std::holds_alternative<CanReply>(*can));
  EXPECT_EQ(std::get<CanReply>(*can).settings, SampleSettings().can);
  for (int g = 0; g < kFilterGroupCount; ++g) {
    const auto group = ParseDeviceReply(replies[static_cast<std::size_t>(3 + g)]);
    ASSERT_TRUE(group && std::holds_alternative<FilterGroupReply>(*group)) << g;
    EXPECT_EQ(std::get<FilterGroupReply>(*group).group, g);
    ASSERT_TRUE(std::get<FilterGroupReply>(*group).slots) << g;
    EXPECT_EQ((*std::get<FilterGroupReply>(*group).slots)[1], SampleSettings().filters.Slot(g, 1));
  }
  const auto ack = ParseDeviceReply(BuildApplyAck(kMac));
  EXPECT_TRUE(ack && std::holds_alternative<ApplyAcknowledgement>(*ack));
  const auto unchanged = ParseDeviceReply(BuildUReply(kMac));
  EXPECT_TRUE(unchanged && std::holds_alternative<CanUnchangedReply>(*unchanged));

  // The query, our own requests coming back, and what is no datagram.
  for (const Bytes& other : {Hex("02 67 03"), BuildReadRequest(ReadRequestKind::kNetwork, kMac),
                             BuildApplyCommand(kMac), BuildReadRequest(FilterGroupRequest(0), kMac),
                             Bytes{}, Hex("02 6E 02 00 00 00 00 01 00")}) {
    EXPECT_FALSE(ParseDeviceReply(other)) << other.size();
  }
}

TEST(ParseDeviceReply, ACutReplyKeepsItsKindAndSaysWhatIsMissing) {
  const std::vector<Bytes> replies = RepliesOf(kMac, SampleSettings());
  const auto network = ParseDeviceReply(CutAndClose(replies[0], 20));
  ASSERT_TRUE(network && std::holds_alternative<NetworkReply>(*network));
  EXPECT_FALSE(std::get<NetworkReply>(*network).Complete());
  const auto can = ParseDeviceReply(CutAndClose(replies[2], 12));
  ASSERT_TRUE(can && std::holds_alternative<CanReply>(*can));
  EXPECT_FALSE(std::get<CanReply>(*can).settings);
  const auto group = ParseDeviceReply(CutAndClose(replies[7], 20));
  ASSERT_TRUE(group && std::holds_alternative<FilterGroupReply>(*group));
  EXPECT_EQ(std::get<FilterGroupReply>(*group).group, 4);
  EXPECT_FALSE(std::get<FilterGroupReply>(*group).slots);
}

}  // namespace
}  // namespace oxlo
