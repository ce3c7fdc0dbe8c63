// One device's replies over loopback: a flood keeps only the newest, and a
// reply too large to take is noticed when it is for us.
#include "transport/devices/device_line.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "protocol/conversation/firmware_upload.h"
#include "protocol/wire/device_side.h"
#include "protocol/wire/frame.h"
#include "tests/support/arrival_stamps.h"
#include "transport/devices/firmware_driver.h"

namespace oxlo::transport {
namespace {

constexpr MacField kMac{0x02, 0, 0, 0, 0, 0x01};
constexpr std::uint8_t kReplyCode = code::kNetworkReply;

Bytes Reply(std::uint32_t number, const MacField& mac = kMac, std::uint8_t code = kReplyCode,
            std::size_t size = 14) {
  Bytes reply = BeginMessage(code, &mac);
  for (int shift = 24; shift >= 0; shift -= 8)
    reply.push_back(static_cast<std::uint8_t>(number >> shift));
  reply.resize(size - 1, 0);
  reply.push_back(kEtx);
  return reply;
}

std::uint32_t NumberOf(const Bytes& reply) {
  std::uint32_t number = 0;
  for (std::size_t i = kPayloadOffset; i < kPayloadOffset + 4; ++i) number = number << 8 | reply[i];
  return number;
}

struct Loopback {
  DeviceSession session{kMac, {kReplyCode}, Binding{"127.0.0.1", 0}};
  Endpoint sender{{Binding{"127.0.0.1", 0}}};
  Loopback() {
    session.Open();
    sender.Open();
  }
  void Send(const Bytes& datagram) { sender.SendTo("127.0.0.1", session.Port(), datagram); }
};

TEST(DeviceSession, AFloodOfRepliesKeepsOnlyTheNewest) {
  Loopback loopback;
  constexpr std::uint32_t kSent = DeviceSession::kMaxPendingReplies + 900;
  for (std::uint32_t n = 0; n < kSent; ++n) {
    loopback.Send(Reply(n));
    // Paced, so the socket's own queue drops none.
    if (n % 100 == 99) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  std::vector<std::uint32_t> kept;
  while (const auto reply = loopback.session.Next(DeviceSession::Clock::now())) {
    kept.push_back(NumberOf(*reply));
  }
  ASSERT_EQ(kept.size(), DeviceSession::kMaxPendingReplies);
  EXPECT_EQ(kept.front(), kSent - DeviceSession::kMaxPendingReplies);
  EXPECT_EQ(kept.back(), kSent - 1);
}

TEST(DeviceSession, NoticesAnOversizedReplyOnlyWhenItIsOurs) {
  const std::size_t oversize = kReceiveBufferSize + 1;
  struct Case {
    const char* what;
    Bytes datagram;
    bool noticed;
  };
  const Case cases[] = {
      {"ours", Reply(1, kMac, kReplyCode, oversize), true},
      {"another device's", Reply(1, {0x02, 0, 0, 0, 0, 0x02}, kReplyCode, oversize), false},
      {"a code we did not ask for", Reply(1, kMac, code::kCanReply, oversize), false},
      {"ours, in size", Reply(1), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Loopback loopback;
    loopback.Send(c.datagram);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(loopback.session.OversizeReplyArrived(), c.noticed);
  }
}

// Conversations with several devices over one line: each reply reaches the
// session of its MAC only, one session per MAC at a time, and a closed
// session gets nothing more while the others go on.
TEST(DeviceLine, HandsEachReplyToTheConversationWithItsDevice) {
  constexpr MacField kOther{0x02, 0, 0, 0, 0, 0x02};
  DeviceLine line(Binding{"127.0.0.1", 0});
  line.Open();
  Endpoint sender{{Binding{"127.0.0.1", 0}}};
  sender.Open();
  const auto send = [&](const Bytes& datagram) {
    sender.SendTo("127.0.0.1", line.Port(), datagram);
  };
  DeviceSession first(line, kMac, {kReplyCode});
  DeviceSession second(line, kOther, {kReplyCode});
  first.Open();
  second.Open();
  DeviceSession again(line, kMac, {kReplyCode});
  EXPECT_THROW(again.Open(), std::logic_error);

  send(Reply(1, kMac));
  send(Reply(2, kOther));
  send(Reply(3, {0x02, 0, 0, 0, 0, 0x03}));  // nobody's
  send(Reply(4, kMac));
  const auto soon = [] { return DeviceSession::Clock::now() + std::chrono::seconds(2); };
  EXPECT_EQ(NumberOf(*first.Next(soon())), 1u);
  EXPECT_EQ(NumberOf(*first.Next(soon())), 4u);
  EXPECT_EQ(NumberOf(*second.Next(soon())), 2u);

  first.Close();
  send(Reply(5, kMac));
  send(Reply(6, kOther));
  EXPECT_EQ(NumberOf(*second.Next(soon())), 6u);
  EXPECT_FALSE(first.Next(DeviceSession::Clock::now()));
  // Its MAC is free again for a new conversation.
  DeviceSession next(line, kMac, {kReplyCode});
  next.Open();
  send(Reply(7, kMac));
  EXPECT_EQ(NumberOf(*next.Next(soon())), 7u);
}

// An upload over real sockets, as oxlo firmware wires it: the session's
// receiving thread passes each reply with its arrival stamp to the driver
// and sends the next message itself. While it sends chunk 0, the device's
// acceptance of it and a copy of an earlier upload's answer to the end
// message (number 1, status 0, the right MAC) reach the socket; the device
// then loses the end message. The copy, read only after the end message
// went out, was here before it and answers nothing.
TEST(DeviceSession, AReplyThatWaitedInTheSocketAnswersNoMessageSentAfterIt) {
  DeviceSession session(kMac, {code::kFirmwareReply}, Binding{"127.0.0.1", 0});
  Endpoint device{{Binding{"127.0.0.1", 0}}};
  device.Open();
  struct Device final : InterfaceBroadcaster {
    Endpoint& socket;
    std::uint16_t port = 0;
    int sent = 0;
    explicit Device(Endpoint& s) : socket(s) {}
    void SendOnEveryInterface(ByteView, std::uint16_t) override {
      if (sent++ > 0) return;  // the end message is lost
      socket.SendTo("127.0.0.1", port, BuildFirmwareReply(kMac, 0, 0x00));
      socket.SendTo("127.0.0.1", port, BuildFirmwareReply(kMac, 1, 0x00));
    }
  } line(device);
  FirmwareDriver driver(line, kDevicePort);
  session.SetReplySink(
      [&driver](const Datagram& reply) { driver.PostReply(reply.data, reply.arrived); });
  session.Open();
  line.port = session.Port();
  ASSERT_TRUE(testing::WaitForArrivalStamps());

  const Bytes image(100, 0x5A);
  std::size_t offset = 0;
  FirmwareUpload upload(kMac,
                        [&](std::span<std::uint8_t> buffer) {
                          const std::size_t n = std::min(buffer.size(), image.size() - offset);
                          std::copy_n(image.begin() + static_cast<std::ptrdiff_t>(offset), n,
                                      buffer.begin());
                          offset += n;
                          return n;
                        },
                        {std::chrono::milliseconds(2000), std::chrono::milliseconds(300)});
  driver.Start(upload);
  FirmwareDriver::Report report;
  do report = driver.Wait(std::chrono::milliseconds(20));
  while (!report.Over());
  driver.Stop();
  EXPECT_EQ(line.sent, 2);
  EXPECT_EQ(report.state, FirmwareUpload::kFailed);
  EXPECT_EQ(FailureReason(report), "no reply to the end message within 300 ms");
}

}  // namespace
}  // namespace oxlo::transport
