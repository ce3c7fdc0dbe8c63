// The ways a simulated device misbehaves on request, for testing the tool's
// time-outs, retries and duplicate handling.
#pragma once

#include <bitset>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string_view>

namespace oxlo::sim {

// A set of command or reply codes.
using CodeSet = std::bitset<256>;

struct FaultSettings {
  double dropProbability = 0.0;  // per reply, 0..1
  std::chrono::milliseconds delay{0};
  // A reply is withheld when its request's code or its own code is here, so
  // "N" and "n" both silence network reads. The request still takes effect.
  CodeSet silentCodes;
  std::optional<std::uint32_t> rejectFirmwareAt;  // sequence number
  // A copy of a firmware message already accepted is refused, as a device
  // that checks sequence numbers does, instead of acknowledged again.
  bool rejectRepeatedFirmware = false;
  // Firmware replies from this sequence number on are cut to this many
  // bytes, the last one ETX: e.g. 10 leaves the echo's first digit.
  std::optional<std::size_t> firmwareReplySize;
  std::uint32_t cutFirmwareRepliesFrom = 0;
  bool duplicate = false;
  // Replies to these request or reply codes are padded before their ETX to
  // oversizeReplySize bytes, more than the tool takes in one datagram.
  CodeSet oversizeCodes;
  std::size_t oversizeReplySize = 0;
  // The apply command with this number (1: the first the simulator gets) is
  // lost: the settings stay stored, not in use, and a late copy of an
  // acknowledgement sent earlier arrives instead, as a link that loses one
  // message and brings back an old one would make it look.
  std::optional<std::uint32_t> loseApply;
  // Each discovery query also gets this many replies from random MACs, as a
  // flood of spoofed answers would bring.
  std::size_t floodDiscoveryReplies = 0;
};

class CodeListError : public std::invalid_argument {
 public:
  using std::invalid_argument::invalid_argument;
};

// "g,a,N,0x01": comma-separated single characters or 0xNN bytes; blanks
// around items are ignored. Throws CodeListError naming the bad item.
CodeSet ParseCodeList(std::string_view text);

}  // namespace oxlo::sim
