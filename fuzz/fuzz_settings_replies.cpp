// Arbitrary datagram sequences (fuzz_support.h SplitDatagrams) as what comes
// back while the settings are read: late, repeated and foreign replies among
// them. The reply decoder never throws and takes only framed datagrams; the
// collector keeps the first reply of each part, so copies and replies after
// the settings are whole change nothing, and whole settings sent again as a
// device would send them read back the same.
#include <algorithm>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "protocol/settings/device_settings.h"
#include "protocol/wire/device_replies.h"
#include "protocol/wire/device_side.h"

namespace oxlo::fuzz {
namespace {

constexpr MacField kDevice = {0x02, 0x00, 0x00, 0x00, 0x00, 0x01};

struct Outcome {
  bool any = false;
  std::vector<std::string> missing;
  std::optional<DeviceSettings> settings;
};

Outcome Collect(const std::vector<Bytes>& datagrams, int copies) {
  SettingsCollector collector;
  for (const Bytes& d : datagrams) {
    for (int i = 0; i < copies; ++i) collector.Take(d);
  }
  Outcome outcome{collector.AnyReply(), collector.Missing(), std::nullopt};
  OXLO_FUZZ_CHECK(collector.Complete() == outcome.missing.empty());
  bool refused = false;
  try {
    outcome.settings = collector.Settings();
  } catch (const std::logic_error&) {
    refused = true;
  }
  OXLO_FUZZ_CHECK(refused != collector.Complete());
  return outcome;
}

// The parts still missing name each part once, in the order they are read.
void CheckMissingNames(const std::vector<std::string>& missing) {
  std::size_t next = 0;
  for (const std::string& name : missing) {
    bool found = false;
    while (next < kReadRequestKindCount && !found) {
      const std::string part = ReadPartName(static_cast<ReadRequestKind>(next++));
      found = name == part || name == part + " (unreadable reply)";
    }
    OXLO_FUZZ_CHECK(found);
  }
}

bool AnswersARead(const DeviceReply& reply) {
  return std::holds_alternative<NetworkReply>(reply) ||
         std::holds_alternative<OpModeReply>(reply) || std::holds_alternative<CanReply>(reply) ||
         std::holds_alternative<FilterGroupReply>(reply);
}

void CheckSequence(ByteView d) {
  const std::vector<Bytes> datagrams = SplitDatagrams(d, kDevice);
  bool anyAnswer = false;
  for (const Bytes& datagram : datagrams) {
    const std::optional<DeviceReply> reply = ParseDeviceReply(datagram);
    if (!reply) continue;
    OXLO_FUZZ_CHECK(AcceptDatagram(datagram).has_value());
    anyAnswer = anyAnswer || AnswersARead(*reply);
    if (const auto* group = std::get_if<FilterGroupReply>(&*reply)) {
      OXLO_FUZZ_CHECK(group->group >= 0 && group->group < kFilterGroupCount);
    }
  }

  const Outcome once = Collect(datagrams, 1);
  OXLO_FUZZ_CHECK(once.any == anyAnswer);
  CheckMissingNames(once.missing);
  // Every reply arriving twice: the same outcome.
  const Outcome twice = Collect(datagrams, 2);
  OXLO_FUZZ_CHECK(twice.any == once.any && twice.missing == once.missing &&
                  twice.settings == once.settings);
  if (!once.settings) return;

  // Once whole, the settings stay what they are, whatever comes after.
  std::vector<Bytes> more = datagrams;
  more.insert(more.end(), datagrams.rbegin(), datagrams.rend());
  OXLO_FUZZ_CHECK(Collect(more, 1).settings == once.settings);

  // The device's replies for these settings, in reverse order, read the same.
  const DeviceSettings& s = *once.settings;
  std::vector<Bytes> replies;
  for (int group = kFilterGroupCount - 1; group >= 0; --group) {
    std::array<FilterEntry, kSlotsPerGroup> slots;
    for (int k = 0; k < kSlotsPerGroup; ++k) {
      slots[static_cast<std::size_t>(k)] = s.filters.Slot(group, k);
    }
    replies.push_back(BuildFilterGroupReply(kDevice, group, slots));
  }
  replies.push_back(BuildCanReply(kDevice, s.can));
  replies.push_back(BuildOpModeReply(kDevice, s.port));
  replies.push_back(BuildNetworkReply(kDevice, s.network));
  const Outcome rebuilt = Collect(replies, 1);
  OXLO_FUZZ_CHECK(rebuilt.settings == once.settings);
}

}  // namespace
}  // namespace oxlo::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  oxlo::fuzz::CheckSequence(oxlo::ByteView(data, size));
  return 0;
}
